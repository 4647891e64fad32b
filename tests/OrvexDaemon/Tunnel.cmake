# The tunnel in-process against fake engines and fake system tools: real child processes.
orvex_test(daemon_tunnel_process LABEL component TIMEOUT 300 LIBS OrvexDaemon SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/TunnelProcessTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FakeSystem.cpp)

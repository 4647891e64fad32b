orvex_test(daemon_routing LABEL component TIMEOUT 300 LIBS OrvexDaemon SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/RoutingTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FakeSystem.cpp)

orvex_test(daemon_tunnel LABEL unit LIBS OrvexDaemon SOURCES ${CMAKE_CURRENT_LIST_DIR}/TunnelTest.cpp)

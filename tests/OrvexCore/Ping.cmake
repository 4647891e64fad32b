orvex_test(core_ping LABEL component SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/PingTest.cpp)

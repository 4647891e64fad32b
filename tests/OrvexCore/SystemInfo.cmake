orvex_test(core_systeminfo LABEL unit SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/SystemInfoTest.cpp)

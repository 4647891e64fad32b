orvex_test(core_log LABEL unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/LogTest.cpp)

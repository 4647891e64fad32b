orvex_test(core_child LABEL component SOURCES ${CMAKE_CURRENT_LIST_DIR}/ChildProcessTest.cpp)

orvex_test(core_shell LABEL component SOURCES ${CMAKE_CURRENT_LIST_DIR}/ShellTest.cpp)

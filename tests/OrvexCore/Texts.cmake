orvex_test(core_texts LABEL unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/TextsTest.cpp)

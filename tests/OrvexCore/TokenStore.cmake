orvex_test(core_tokenstore LABEL component SOURCES ${CMAKE_CURRENT_LIST_DIR}/TokenStoreTest.cpp)

orvex_test(core_deeplink LABEL unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/DeepLinkTest.cpp)

orvex_test(core_api_records LABEL unit SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/APITypesTest.cpp)
orvex_test(core_api LABEL component SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/APIClientTest.cpp
  LIBS AccountServerFixture)
orvex_test(core_api_slow LABEL component LABELS slow SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/APIClientSlowTest.cpp
  LIBS AccountServerFixture)

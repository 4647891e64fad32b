orvex_test(core_http LABEL component SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/HttpTest.cpp
  LIBS AccountServerFixture)

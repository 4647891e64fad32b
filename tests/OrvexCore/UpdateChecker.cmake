orvex_test(core_update_checker LABEL component SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/UpdateCheckerTest.cpp
  LIBS UpdateServerFixture)
orvex_test(core_update_checker_slow LABEL slow SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/UpdateCheckerSlowTest.cpp
  LIBS UpdateServerFixture)

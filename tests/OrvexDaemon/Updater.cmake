orvex_test(daemon_updater LABEL component LIBS OrvexDaemon UpdateServerFixture SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/UpdaterTest.cpp)

orvex_test(daemon_launchd LABEL component LIBS OrvexDaemon UpdateServerFixture SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/LaunchdTest.cpp)
add_dependencies(daemon_launchd service-installer)

orvex_test(daemon_launchd LABEL component LIBS OrvexDaemon UpdateServerFixture SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/LaunchdTest.cpp ${CMAKE_CURRENT_LIST_DIR}/InstallerRun.cpp)
# The installer roles are exercised through the real executable.
target_compile_definitions(daemon_launchd PRIVATE ORVEX_EXECUTABLE="$<TARGET_FILE:orvex>")
add_dependencies(daemon_launchd orvex)

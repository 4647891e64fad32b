# The installer roles are exercised through the real executable.
orvex_test(daemon_installer LABEL component LIBS OrvexDaemon UpdateServerFixture SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/InstallerTest.cpp)
target_compile_definitions(daemon_installer PRIVATE ORVEX_EXECUTABLE="$<TARGET_FILE:orvex>")
add_dependencies(daemon_installer orvex)

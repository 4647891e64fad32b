orvex_test(daemon_systemd LABEL component LIBS OrvexDaemon SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/SystemdTest.cpp ${CMAKE_CURRENT_LIST_DIR}/InstallerRun.cpp)
# The installer roles are exercised through the real executable.
target_compile_definitions(daemon_systemd PRIVATE ORVEX_EXECUTABLE="$<TARGET_FILE:orvex>")
add_dependencies(daemon_systemd orvex)

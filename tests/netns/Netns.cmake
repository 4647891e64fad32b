# The real service capturing a namespace's traffic in tests/netns/world (root only; skipped
# elsewhere). The reconnect pauses of the kill-switch case take about a minute.
orvex_test(netns_capture LABEL netns TIMEOUT 300 SOURCES ${CMAKE_CURRENT_LIST_DIR}/NetnsCaptureTest.cpp)
target_compile_definitions(netns_capture PRIVATE ORVEX_EXECUTABLE="$<TARGET_FILE:orvex>"
  ORVEX_NETNS_WORLD="${CMAKE_CURRENT_LIST_DIR}/world")
add_dependencies(netns_capture orvex)

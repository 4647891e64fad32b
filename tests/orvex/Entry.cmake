orvex_test(entry LABEL component SOURCES ${CMAKE_CURRENT_LIST_DIR}/EntryTest.cpp)
target_compile_definitions(entry PRIVATE ORVEX_EXECUTABLE="$<TARGET_FILE:orvex>")
add_dependencies(entry orvex)

orvex_test(core_elevation LABEL component SOURCES ${CMAKE_CURRENT_LIST_DIR}/ElevationTest.cpp)

orvex_test(core_base LABEL unit SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/TextTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PathsTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ConfigTest.cpp)

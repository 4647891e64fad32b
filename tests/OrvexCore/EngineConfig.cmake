orvex_test(core_engine_config LABEL unit SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/VlessTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/XrayConfigTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RoutingParsingTest.cpp)

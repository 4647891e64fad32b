# The service's own update install through the real executable.
orvex_test(service_update LABEL service TIMEOUT 300 LIBS UpdateServerFixture SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/UpdateTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ServiceMachine.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../OrvexDaemon/FakeSystem.cpp)
target_include_directories(service_update PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../OrvexDaemon)
target_compile_definitions(service_update PRIVATE ORVEX_EXECUTABLE="$<TARGET_FILE:orvex>")
add_dependencies(service_update orvex)

# The service's request handling in-process, and the real executable end to end under a
# scratch ORVEX_ROOT with fake engines, fake macOS network tools and update mirrors.
orvex_test(service_daemon LABEL component LIBS OrvexDaemon SOURCES ${CMAKE_CURRENT_LIST_DIR}/DaemonTest.cpp)
orvex_test(service_e2e LABEL service TIMEOUT 600 LIBS UpdateServerFixture SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/ServiceTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ServiceMachine.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../OrvexDaemon/FakeSystem.cpp)
target_include_directories(service_e2e PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../OrvexDaemon)
target_compile_definitions(service_e2e PRIVATE ORVEX_EXECUTABLE="$<TARGET_FILE:orvex>")
add_dependencies(service_e2e orvex)

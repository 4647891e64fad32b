# The service's request handling in-process, and the real executable end to end under a
# scratch ORVEX_ROOT with fake engines and fake macOS network tools.
orvex_test(service_daemon LABEL component LIBS OrvexDaemon SOURCES ${CMAKE_CURRENT_LIST_DIR}/DaemonTest.cpp)

set(service_machine_sources
  ${CMAKE_CURRENT_LIST_DIR}/ServiceMachine.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../OrvexDaemon/FakeSystem.cpp)
orvex_test(service_e2e LABEL service TIMEOUT 600 SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/ServiceTest.cpp ${service_machine_sources})
orvex_test(service_slow LABEL service LABELS slow TIMEOUT 300 SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/ServiceSlowTest.cpp ${service_machine_sources})
foreach(target service_e2e service_slow)
  target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../OrvexDaemon)
  target_compile_definitions(${target} PRIVATE ORVEX_EXECUTABLE="$<TARGET_FILE:orvex>")
  add_dependencies(${target} orvex)
endforeach()

pkg_check_modules(SERVICE_INTEROP_HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
orvex_test(interop_service LABEL interop TIMEOUT 180 LIBS PkgConfig::SERVICE_INTEROP_HTTPLIB SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/ServiceInteropTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../service/ServiceMachine.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../OrvexDaemon/FakeSystem.cpp)
target_include_directories(interop_service PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/../service ${CMAKE_CURRENT_LIST_DIR}/../OrvexDaemon)
target_compile_definitions(interop_service PRIVATE ORVEX_EXECUTABLE="$<TARGET_FILE:orvex>")
add_dependencies(interop_service orvex)

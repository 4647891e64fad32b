# The application model against a scripted service, a fake clock and the account-server and
# update-mirror fixtures.
orvex_test(ui_model LABEL unit LIBS OrvexUITestSupport AccountServerFixture UpdateServerFixture SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/AppModelTest.cpp ${CMAKE_CURRENT_LIST_DIR}/AppModelAccountTest.cpp)

# The model driving the real service end to end: an engine crash, an exhausted reconnect with
# the kill switch on, and an update that falls back through all three ways.
orvex_test(ui_model_service LABEL service LABELS slow TIMEOUT 400
  LIBS OrvexUITestSupport AccountServerFixture UpdateServerFixture SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/AppModelServiceTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../service/ServiceMachine.cpp ${CMAKE_CURRENT_LIST_DIR}/../OrvexDaemon/FakeSystem.cpp)
target_include_directories(ui_model_service PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/../OrvexCore ${CMAKE_CURRENT_LIST_DIR}/../OrvexDaemon ${CMAKE_CURRENT_LIST_DIR}/../service)
target_compile_definitions(ui_model_service PRIVATE ORVEX_EXECUTABLE="$<TARGET_FILE:orvex>")
add_dependencies(ui_model_service orvex)

# The model installing and removing the real service under the Linux personality, through the
# fake pkexec and systemctl.
orvex_test(ui_model_systemd LABEL service TIMEOUT 200 LIBS OrvexUITestSupport AccountServerFixture UpdateServerFixture SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/AppModelSystemdTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../OrvexDaemon/InstallerRun.cpp)
target_include_directories(ui_model_systemd PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../OrvexDaemon)
target_compile_definitions(ui_model_systemd PRIVATE ORVEX_EXECUTABLE="$<TARGET_FILE:orvex>")
add_dependencies(ui_model_systemd orvex)

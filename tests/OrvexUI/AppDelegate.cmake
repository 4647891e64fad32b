# The desktop application offscreen against a scripted service and the account-server fixture.
orvex_test(ui_delegate LABEL unit LIBS OrvexUITestSupport AccountServerFixture UpdateServerFixture SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/AppDelegateTest.cpp ${CMAKE_CURRENT_LIST_DIR}/AutostartTest.cpp
 )

# The real application under Xvfb with the real service: links, widget commands, status file.
orvex_test(ui_app_gui LABEL gui TIMEOUT 180 LIBS AccountServerFixture SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/AppGuiTest.cpp ${CMAKE_CURRENT_LIST_DIR}/DesktopMachine.cpp ${CMAKE_CURRENT_LIST_DIR}/XvfbDisplay.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../service/ServiceMachine.cpp ${CMAKE_CURRENT_LIST_DIR}/../OrvexDaemon/FakeSystem.cpp)
target_link_libraries(ui_app_gui PRIVATE Qt6::Core)
target_include_directories(ui_app_gui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/../OrvexCore ${CMAKE_CURRENT_LIST_DIR}/../OrvexDaemon ${CMAKE_CURRENT_LIST_DIR}/../service)
target_compile_definitions(ui_app_gui PRIVATE ORVEX_EXECUTABLE="$<TARGET_FILE:orvex>")
add_dependencies(ui_app_gui orvex)

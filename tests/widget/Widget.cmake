# The desktop widget: its rules, files and toggle with time in the test's hands, its window
# offscreen (with pictures of each state in widget-shots/), and the real application and the
# widget together under Xvfb against the real service.
orvex_test(widget_unit LABEL unit LIBS OrvexWidgetCore SOURCES ${CMAKE_CURRENT_LIST_DIR}/WidgetLogicTest.cpp)

orvex_test(widget_view LABEL unit LIBS OrvexWidgetCore Qt6::Test SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/WidgetViewTest.cpp)
target_compile_definitions(widget_view PRIVATE ORVEX_WIDGET_SHOTS="${CMAKE_BINARY_DIR}/widget-shots")

orvex_test(widget_gui LABEL gui TIMEOUT 180 LIBS OrvexWidgetCore AccountServerFixture Qt6::Test SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/WidgetGuiTest.cpp ${CMAKE_CURRENT_LIST_DIR}/../service/ServiceMachine.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../OrvexDaemon/FakeSystem.cpp)
target_include_directories(widget_gui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/../OrvexCore ${CMAKE_CURRENT_LIST_DIR}/../OrvexDaemon ${CMAKE_CURRENT_LIST_DIR}/../service)
target_compile_definitions(widget_gui PRIVATE ORVEX_EXECUTABLE="$<TARGET_FILE:orvex>"
  ORVEX_WIDGET_EXECUTABLE="$<TARGET_FILE:OrvexWidget>" ORVEX_WIDGET_SHOTS="${CMAKE_BINARY_DIR}/widget-shots")
add_dependencies(widget_gui orvex OrvexWidget)

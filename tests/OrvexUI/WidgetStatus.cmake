# The widget bridge against a scratch shared folder and a clock the test moves.
orvex_test(ui_widget_status LABEL unit LIBS OrvexUITestSupport AccountServerFixture SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/WidgetStatusTest.cpp)

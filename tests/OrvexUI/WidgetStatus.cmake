# The widget bridge against a scratch shared folder and a clock the test moves.
orvex_test(ui_widget_status LABEL unit LIBS OrvexUI AccountServerFixture SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/WidgetStatusTest.cpp ${CMAKE_CURRENT_LIST_DIR}/ModelFakes.cpp)
target_include_directories(ui_widget_status PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../OrvexCore)

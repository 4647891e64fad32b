# The desktop application offscreen against a scripted service and the account-server fixture.
orvex_test(ui_delegate LABEL unit LIBS OrvexUI AccountServerFixture UpdateServerFixture SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/AppDelegateTest.cpp ${CMAKE_CURRENT_LIST_DIR}/AutostartTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ModelFakes.cpp)
target_include_directories(ui_delegate PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../OrvexCore)

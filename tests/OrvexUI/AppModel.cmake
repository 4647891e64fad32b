# The application model against a scripted service, a fake clock and the account-server and
# update-mirror fixtures.
orvex_test(ui_model LABEL unit LIBS OrvexUI AccountServerFixture UpdateServerFixture SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/AppModelTest.cpp ${CMAKE_CURRENT_LIST_DIR}/ModelFakes.cpp)
target_include_directories(ui_model PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../OrvexCore)

# The desktop application offscreen against the real model with a scripted service, a fake clock,
# the account-server fixture and the update mirrors.
add_library(OrvexUITestSupport STATIC ${CMAKE_CURRENT_LIST_DIR}/ModelFakes.cpp)
target_include_directories(OrvexUITestSupport PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_CURRENT_LIST_DIR}/../OrvexCore)
target_link_libraries(OrvexUITestSupport PUBLIC OrvexTestSupport OrvexUI AccountServerFixture UpdateServerFixture
  Qt6::Widgets Qt6::Test)

# The tray, links, quit, second start, autostart and the widget bridge.
orvex_test(ui_delegate LABEL unit LIBS OrvexUITestSupport SOURCES ${CMAKE_CURRENT_LIST_DIR}/AppDelegateTest.cpp)
orvex_test(ui_model LABEL unit LIBS OrvexUITestSupport SOURCES ${CMAKE_CURRENT_LIST_DIR}/AppModelTest.cpp)
# Every screen and panel driven as a user would, and rendered to PNG files for review.
orvex_test(ui_screens LABEL unit LIBS OrvexUITestSupport SOURCES ${CMAKE_CURRENT_LIST_DIR}/ScreensTest.cpp)

set(notifier_tests ${CMAKE_CURRENT_LIST_DIR}/NotifierTest.cpp)
if(NOT APPLE)
  list(APPEND notifier_tests ${CMAKE_CURRENT_LIST_DIR}/NotificationCentreTest_linux.cpp)
endif()
orvex_test(ui_notifier LABEL unit LIBS OrvexUITestSupport SOURCES ${notifier_tests})


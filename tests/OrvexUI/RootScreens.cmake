# The sign-in screen, the home panel, the sidebar and the update dialog offscreen against the
# real model, and their renderings for review.
orvex_test(ui_root_screens LABEL unit LIBS OrvexUITestSupport AccountServerFixture UpdateServerFixture SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/RootScreensTest.cpp)
target_link_libraries(ui_root_screens PRIVATE Qt6::Test)

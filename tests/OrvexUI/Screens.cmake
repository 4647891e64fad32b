# The panels of the main screen offscreen against the real model, a scripted service and the
# account-server fixture; one case renders every panel to PNG files for a person to look at.
orvex_test(ui_screens LABEL unit LIBS OrvexUITestSupport AccountServerFixture UpdateServerFixture Qt6::Test SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/PanelsTest.cpp)

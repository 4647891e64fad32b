// The real `orvex` application and the widget together under Xvfb, against the real service
// on a scratch machine: the widget's button connects through the running application, the
// widget follows the status file, and it keeps the last state once the application is gone.
// The widget's view runs in this process so that the test can press its button; the
// `orvex-widget` program runs beside it against the same files.
#include "WidgetView.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <filesystem>
#include <gtest/gtest.h>

#include "DaemonClient.h"
#include "DesktopMachine.h"
#include "WidgetTesting.h"
#include "XvfbDisplay.h"

namespace orvex::widget {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

TEST(WidgetGui, TheButtonConnectsThroughTheApplicationAndTheWidgetOutlivesIt) {
    test::XvfbDisplay display;
    if (!display.available()) GTEST_SKIP() << "Xvfb is missing: scripts/setup installs it";
    test::ScopedEnv qpa("QT_QPA_PLATFORM", "xcb");
    // A scratch Mac: the application keeps the widget's files in the relocated shared folder,
    // and the widget, asking the same personality, looks there too.
    test::DesktopMachine desktop(ORVEX_EXECUTABLE);
    const std::string statusFile = WidgetFiles::sharedDir() + "/widget-status.json";

    ChildProcess app = desktop.launchApp();
    ASSERT_TRUE(test::waitUntil([&] { return desktop.appListening() && fs::exists(statusFile); }))
        << "the application never began listening";
    ChildProcess::Options quiet;
    quiet.error = ChildProcess::Redirect::toFile(desktop.root() + "/widget.log");
    ChildProcess program = ChildProcess::spawn(ORVEX_WIDGET_EXECUTABLE, {"--medium"}, quiet);

    static int argc = 1;
    static char name[] = "widget-gui";
    static char* argv[] = {name, nullptr};
    QApplication application(argc, argv);
    std::vector<std::string> opened;
    WidgetView view({.openURL = [&](const std::string& url) { opened.push_back(url); },
                     .settingsPath = desktop.root() + "/in-process.ini",
                     .family = WidgetView::Family::small});
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    auto* title = view.findChild<QLabel*>("title");
    auto* button = view.findChild<QPushButton*>("toggleButton");
    EXPECT_TRUE(test::eventually([&] { return title->text() == "Отключено"; })) << test::readFile(statusFile);

    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_TRUE(test::eventually([] { return DaemonClient::status().state == TunnelState::connected; }, 30s))
        << desktop.service().log();
    EXPECT_TRUE(test::eventually([&] { return title->text() == "Защищено"; })) << test::readFile(statusFile);
    EXPECT_EQ(view.findChild<QLabel*>("subtitle")->text(), "Нидерланды");
    EXPECT_TRUE(opened.empty()) << "the application took the command, so no link was needed";
    EXPECT_FALSE(fs::exists(WidgetFiles::sharedDir() + "/widget-command.json"));
    fs::create_directories(ORVEX_WIDGET_SHOTS);
    EXPECT_TRUE(view.grab().save(ORVEX_WIDGET_SHOTS "/xvfb-connected-small.png"));

    // Quitting takes the tunnel down first; the widget keeps showing what the application last said.
    app.stop(5s);
    EXPECT_NE(test::readFile(statusFile).find(R"("alive":false)"), std::string::npos)
        << test::readFile(statusFile);
    view.reload();
    EXPECT_EQ(title->text(), "Отключено");
    EXPECT_TRUE(button->isEnabled());
    EXPECT_TRUE(program.running()) << test::readFile(desktop.root() + "/widget.log");
}

} // namespace
} // namespace orvex::widget

// The real application, its widget view in this process and the `orvex-widget` program beside it
// under Xvfb, against the real service on a scratch Mac and the account-server fixture.
#include "WidgetView.h"

#include <QApplication>
#include <QByteArray>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "APIServerFixture.h"
#include "ChildProcess.h"
#include "DaemonClient.h"
#include "Paths.h"
#include "ServiceMachine.h"
#include "TestSupport.h"
#include "TokenStore.h"

namespace orvex::widget {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using test::ScopedEnv;

// Polls `condition` with the event loop running in between, until it holds or `limit` passes.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = 10s) {
    return test::waitUntil(
        [&] { return QCoreApplication::processEvents(QEventLoop::AllEvents, 5), condition(); }, limit);
}

// A private X server on a display number it picks itself, with DISPLAY pointing at it for the
// object's lifetime; no display where Xvfb is missing.
struct XvfbDisplay {
    XvfbDisplay() {
        if (!fs::exists("/usr/bin/Xvfb")) return;
        server.emplace(ChildProcess::spawn(
            "/usr/bin/Xvfb", {"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"},
            {{},
             ChildProcess::Redirect::toFile(dir / "display"),
             ChildProcess::Redirect::toFile(dir / "xvfb.log")}));
        std::string number;
        test::waitUntil(
            [&] { return (number = test::readFile(dir / "display")).ends_with('\n') || !server->running(); });
        if (number.ends_with('\n')) display.emplace("DISPLAY", ":" + number.substr(0, number.size() - 1));
    }
    test::TempDir dir;
    std::optional<ChildProcess> server;
    std::optional<ScopedEnv> display;
};

// The service's scratch Mac holds the XDG folders too; the account server (also the update
// mirror) hands out a link to "Нидерланды", and its token in the scratch home signs the app in.
struct DesktopMachine {
    DesktopMachine() {
        std::string link =
            QByteArray::fromStdString(test::ServiceMachine::link() + "\n").toBase64().toStdString();
        server->setOverride("/api/config",
                            {.body = R"({"subscription":")" + link + R"(","server_name":"Нидерланды"})"});
        fs::create_directories(service.root() + "/run");
        fs::permissions(service.root() + "/run", fs::perms::owner_all);
        if (!TokenStore::save(server->token())) throw std::runtime_error("the token could not be saved");
        test::writeFile(Paths::daemonPlist(), "job");
        service.start();
    }
    bool appListening() const {
        for (const auto& entry : fs::directory_iterator(service.root() + "/run"))
            if (entry.path().filename().string().starts_with("net.orvex.app-")) return true;
        return false;
    }
    ScopedEnv platform{"ORVEX_PLATFORM", "macos"};
    test::ServiceMachine service;
    ScopedEnv config{"XDG_CONFIG_HOME", service.root() + "/config"};
    ScopedEnv data{"XDG_DATA_HOME", service.root() + "/data"};
    ScopedEnv state{"XDG_STATE_HOME", service.root() + "/state"};
    ScopedEnv runtime{"XDG_RUNTIME_DIR", service.root() + "/run"};
    ScopedEnv bus{"DBUS_SESSION_BUS_ADDRESS", std::nullopt}; // the token stays in the scratch home
    test::APIServerFixture servers;
    std::unique_ptr<test::AccountServer> server = servers.start();
    ScopedEnv bases{"ORVEX_API_BASES", server->baseURL()};
    ScopedEnv mirrors{"ORVEX_UPDATE_MIRRORS", server->baseURL() + "," + server->baseURL()};
};

TEST(WidgetGui, TheApplicationTakesLinksAndWidgetPressesAndTheWidgetOutlivesIt) {
    XvfbDisplay display;
    if (!display.display) GTEST_SKIP() << "Xvfb is missing: scripts/setup installs it";
    ScopedEnv qpa("QT_QPA_PLATFORM", "xcb");
    DesktopMachine desktop;
    const std::string statusFile = WidgetFiles::sharedDir() + "/widget-status.json";
    const std::string commandFile = WidgetFiles::sharedDir() + "/widget-command.json";
    auto tunnelIs = [&](TunnelState state) {
        return test::waitUntil([&] { return DaemonClient::status().state == state; }, 30s);
    };

    ChildProcess app = ChildProcess::spawn(ORVEX_EXECUTABLE, {});
    ASSERT_TRUE(test::waitUntil([&] { return desktop.appListening() && fs::exists(statusFile); }))
        << "the application never began listening";
    ChildProcess program =
        ChildProcess::spawn(ORVEX_WIDGET_EXECUTABLE, {"--medium"},
                            {{}, {}, ChildProcess::Redirect::toFile(desktop.service.root() + "/widget.log")});
    static int argc = 1;
    static char name[] = "widget-gui";
    static char* argv[] = {name, nullptr};
    QApplication application(argc, argv);
    std::vector<std::string> opened;
    WidgetView view({.openURL = [&](const std::string& url) { opened.push_back(url); },
                     .settingsPath = desktop.service.root() + "/in-process.ini",
                     .family = WidgetView::Family::small});
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    auto* title = view.findChild<QLabel*>("title");
    auto* button = view.findChild<QPushButton*>("toggleButton");
    EXPECT_TRUE(eventually([&] { return title->text() == "Отключено"; })) << test::readFile(statusFile);

    // A second start hands its link over and ends.
    EXPECT_EQ(ChildProcess::spawn(ORVEX_EXECUTABLE, {"orvexvpn://toggle"}).wait(), 0);
    ASSERT_TRUE(tunnelIs(TunnelState::connected)) << desktop.service.log();
    EXPECT_EQ(DaemonClient::status().serverName, "Нидерланды");
    EXPECT_TRUE(eventually([&] { return title->text() == "Защищено"; })) << test::readFile(statusFile);
    EXPECT_EQ(view.findChild<QLabel*>("subtitle")->text(), "Нидерланды");
    fs::create_directories(ORVEX_WIDGET_SHOTS);
    EXPECT_TRUE(view.grab().save(ORVEX_WIDGET_SHOTS "/xvfb-connected-small.png"));

    // The widget's button goes through the application, which takes the command: no link needed.
    for (TunnelState next : {TunnelState::disconnected, TunnelState::connected}) {
        QTest::mouseClick(button, Qt::LeftButton);
        ASSERT_TRUE(tunnelIs(next)) << desktop.service.log();
        ASSERT_TRUE(eventually([&] { return button->isEnabled(); })) << "the press is over";
    }
    EXPECT_TRUE(opened.empty());
    EXPECT_FALSE(fs::exists(commandFile));

    // A session's end (SIGTERM) quits as the menu does: the tunnel comes down first, and the
    // widget keeps showing what the application last said.
    app.terminate();
    EXPECT_EQ(app.wait(), 0);
    EXPECT_EQ(DaemonClient::status().state, TunnelState::disconnected);
    EXPECT_NE(test::readFile(statusFile).find(R"("alive":false)"), std::string::npos);
    view.reload();
    EXPECT_EQ(title->text(), "Отключено");
    EXPECT_TRUE(button->isEnabled());
    EXPECT_TRUE(program.running()) << test::readFile(desktop.service.root() + "/widget.log");
}

} // namespace
} // namespace orvex::widget

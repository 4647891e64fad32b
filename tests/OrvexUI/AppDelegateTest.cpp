// The desktop application offscreen: the tray's words per state, the links, the deferred quit,
// the widget's pending mark and the hand-over from a second start.
#include "AppDelegate.h"

#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QSystemTrayIcon>

#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

#include "APIServerFixture.h"
#include "AppModel.h"
#include "ElevationError.h"
#include "ModelFakes.h"
#include "Paths.h"
#include "SingleInstance.h"
#include "TokenStore.h"
#include "UpdateMirrors.h"
#include "WidgetStatus.h"

namespace orvex {
namespace {

using test::statusIn;
using test::waitWithEvents;

class AppDelegateTest : public ::testing::Test, protected test::ScratchDesktop {
protected:
    static void SetUpTestSuite() { test::ensureWidgetApplication(); }

    AppDelegateTest() {
        desktop_.journal = [this](const std::string& entry) { service_->note(entry); };
        TokenStore::save(server_->token(), *desktop_.keychain);
        Paths::ensureDir(dir_ / "Library/LaunchDaemons");
        test::writeFile(Paths::daemonPlist(), "job");
    }

    std::unique_ptr<AppDelegate> launch() {
        auto delegate = std::make_unique<AppDelegate>(
            test::environment(dir_.path(), service_, server_->baseURL(), desktop_),
            AppDelegate::Options{.widgetFolder = dir_ / "widget", .terminate = [this] { ++terminations_; }});
        delegate->launch();
        return delegate;
    }

    std::vector<std::string> menuTexts(AppDelegate& delegate) {
        std::vector<std::string> texts;
        for (QAction* action : delegate.trayMenu()->actions())
            texts.push_back(action->isSeparator() ? "—" : action->text().toStdString());
        return texts;
    }

    std::string widgetFile() { return test::readFile(dir_ / "widget/widget-status.json"); }

    int terminations_ = 0;
};

TEST_F(AppDelegateTest, TheTrayNamesEachStateAndOffersItsAction) {
    struct Case {
        TunnelStatus status;
        std::string tip;
        std::string action;
    };
    TunnelStatus connected = statusIn(TunnelState::connected);
    connected.serverName = "Германия";
    auto delegate = launch();
    EXPECT_EQ(delegate->window()->windowTitle(), "ORVEX");
    EXPECT_EQ(delegate->window()->minimumSize(), QSize(860, 580));
    for (const Case& c : {Case{statusIn(TunnelState::disconnected), "не подключено", "Подключить"},
                          Case{statusIn(TunnelState::connecting), "подключение…", "Отключить"},
                          Case{connected, "подключено, Германия", "Отключить"},
                          Case{statusIn(TunnelState::connected), "подключено", "Отключить"},
                          Case{statusIn(TunnelState::error), "ошибка", "Подключить"}}) {
        service_->script([&](auto& s) { s.current = c.status; });
        delegate->model().refreshStatus();
        ASSERT_TRUE(waitWithEvents([&] { return delegate->model().status() == c.status; }));
        EXPECT_EQ(delegate->tray()->toolTip().toStdString(), "ORVEX — " + c.tip);
        EXPECT_EQ(menuTexts(*delegate), (std::vector<std::string>{"ORVEX — " + c.tip, "—", c.action,
                                                                  "Открыть ORVEX", "—", "Выход"}));
    }

    // A mandatory update turns the action into the way to the update.
    std::filesystem::create_directories(dir_ / "mirrors");
    test::UpdateMirrors mirrors(dir_ / "mirrors");
    mirrors.first().setManifest(
        test::UpdateMirrors::manifest("9.0.0", "https://x/ORVEX-9.0.0.dmg", "", "9.0.0"));
    delegate->model().checkUpdateSilently();
    ASSERT_TRUE(waitWithEvents([&] { return delegate->model().mandatoryUpdatePending(); }));
    EXPECT_EQ(menuTexts(*delegate)[0], "ORVEX — ошибка");
    EXPECT_EQ(menuTexts(*delegate)[2], "Нужно обновление — обновить");
    service_->script([](auto& s) { s.current = statusIn(TunnelState::disconnected); });
    delegate->model().refreshStatus();
    ASSERT_TRUE(waitWithEvents([&] { return delegate->tray()->toolTip() == "ORVEX — нужно обновление"; }));
    EXPECT_NE(widgetFile().find(R"("blocked":true)"), std::string::npos);
    delegate->window()->hide();
    delegate->trayMenu()->actions()[2]->trigger();
    EXPECT_TRUE(delegate->window()->isVisible());
    EXPECT_TRUE(service_->journal().empty());
}

TEST_F(AppDelegateTest, LinksToggleShowOrCarryASignInCode) {
    struct Case {
        const char* url;
        std::vector<std::string> calls;
        bool codeKept;
    };
    for (const Case& c :
         {Case{"orvexvpn://toggle", {"connect Нидерланды"}, false}, Case{"orvexvpn://update", {}, false},
          Case{"orvexvpn://code/AB12CD", {}, true}, Case{"orvexvpn://something-else", {}, false}}) {
        SCOPED_TRACE(c.url);
        service_ = std::make_shared<test::FakeService>();
        auto delegate = launch();
        delegate->window()->close();
        delegate->openURLs({QString::fromUtf8(c.url)});
        EXPECT_TRUE(delegate->window()->isVisible());
        ASSERT_TRUE(waitWithEvents([&] { return !delegate->model().busy(); }));
        ASSERT_TRUE(waitWithEvents([&] { return service_->journal().size() >= c.calls.size(); }));
        EXPECT_EQ(service_->journal(), c.calls);
        EXPECT_EQ(delegate->model().pendingLinkCode().has_value(), c.codeKept);
    }
}

// Right after launch the model still shows the neutral status: a toggle then must not turn a
// running tunnel's "disconnect" into a connect.
TEST_F(AppDelegateTest, AToggleAtLaunchIsDecidedOnTheServicesStatus) {
    service_->script([](auto& s) { s.current = statusIn(TunnelState::connected); });
    service_->hold("status");
    auto delegate = launch();
    delegate->openURLs({"orvexvpn://toggle"});
    service_->release("status");
    ASSERT_TRUE(waitWithEvents([&] { return !service_->journal().empty(); }));
    ASSERT_TRUE(waitWithEvents([&] { return !delegate->model().busy(); }));
    EXPECT_EQ(service_->journal().back(), "disconnect");
}

TEST_F(AppDelegateTest, AToggleThatFailsLeavesNoPendingMarkForTheWidget) {
    service_->script([](auto& s) { s.running = false; });
    desktop_.elevation = [](const std::string&) { throw ElevationError::cancelled(); };
    std::filesystem::remove(Paths::daemonPlist());
    auto delegate = launch();
    delegate->model().toggleConnection();
    EXPECT_NE(widgetFile().find(R"("pending":"connect")"), std::string::npos);
    ASSERT_TRUE(waitWithEvents([&] { return !delegate->model().busy(); }));
    EXPECT_EQ(delegate->model().message(), "Установка отменена");
    EXPECT_EQ(widgetFile().find("pending"), std::string::npos);
}

TEST_F(AppDelegateTest, QuittingWhileConnectedWaitsForTheDisconnectAndIsAnsweredOnce) {
    struct Case {
        bool serviceHangs;
    };
    for (Case c : {Case{false}, Case{true}}) {
        SCOPED_TRACE(c.serviceHangs);
        terminations_ = 0;
        service_ = std::make_shared<test::FakeService>();
        service_->script([](auto& s) { s.current = statusIn(TunnelState::connected); });
        auto delegate = launch();
        delegate->model().refreshStatus();
        ASSERT_TRUE(
            waitWithEvents([&] { return delegate->model().status().state == TunnelState::connected; }));
        if (c.serviceHangs) service_->hold("disconnect");
        delegate->requestQuit();
        delegate->requestQuit();
        ASSERT_TRUE(waitWithEvents([&] { return terminations_ == 1; }, std::chrono::seconds(8)));
        EXPECT_NE(widgetFile().find(R"("alive":false)"), std::string::npos);
        service_->release("disconnect");
        waitWithEvents([&] { return !service_->waiting("disconnect") && terminations_ > 1; },
                       std::chrono::milliseconds(200));
        EXPECT_EQ(terminations_, 1);
    }
    // Disconnected: at once.
    terminations_ = 0;
    service_ = std::make_shared<test::FakeService>();
    auto delegate = launch();
    delegate->requestQuit();
    EXPECT_EQ(terminations_, 1);
}

TEST_F(AppDelegateTest, ASecondStartHandsItsLinkToTheRunningOne) {
    QString name = QStringLiteral("orvex-test-%1").arg(QCoreApplication::applicationPid());
    SingleInstance first(name);
    std::vector<QString> received;
    ASSERT_TRUE(first.listen([&](const QString& message) { received.push_back(message); }));
    bool handed = false;
    std::thread second([&] { handed = SingleInstance(name).handOver("orvexvpn://toggle"); });
    ASSERT_TRUE(waitWithEvents([&] { return received.size() == 1; }));
    second.join();
    EXPECT_TRUE(handed);
    EXPECT_EQ(received[0], "orvexvpn://toggle");
    EXPECT_FALSE(SingleInstance(name + "-nobody").handOver(""));
}

} // namespace
} // namespace orvex

// The desktop application offscreen: the tray's words per state, the links, the deferred quit,
// the widget's pending mark and the hand-over from a second start.
#include "AppDelegate.h"

#include <QMainWindow>
#include <QMenu>
#include <QSystemTrayIcon>

#include <gtest/gtest.h>
#include <thread>

#include "ElevationError.h"
#include "ModelFakes.h"
#include "Paths.h"
#include "SingleInstance.h"
#include "UpdateMirrors.h"

namespace orvex {
namespace {

using test::statusIn;
using test::waitWithEvents;
using Journal = std::vector<std::string>;

class AppDelegateTest : public ::testing::Test, protected test::ScratchDesktop {
protected:
    static void SetUpTestSuite() { test::ensureWidgetApplication(); }
    AppDelegateTest() {
        link();
        installJob();
    }

    // The application on a fresh scripted service, already `connected` or not.
    std::unique_ptr<AppDelegate> launch(bool connected = false) {
        freshService();
        if (connected) service_->script([](auto& s) { s.current = statusIn(TunnelState::connected); });
        auto delegate = std::make_unique<AppDelegate>(
            env_,
            AppDelegate::Options{.widgetFolder = dir_ / "widget", .terminate = [this] { ++terminations_; }});
        delegate->launch();
        return delegate;
    }
    Journal menuTexts(AppDelegate& delegate) {
        Journal texts;
        for (QAction* action : delegate.trayMenu()->actions())
            texts.push_back(action->isSeparator() ? "—" : action->text().toStdString());
        return texts;
    }
    bool widgetFileHas(const std::string& text) {
        return test::readFile(dir_ / "widget/widget-status.json").find(text) != std::string::npos;
    }

    int terminations_ = 0;
};

TEST_F(AppDelegateTest, TheTrayNamesEachStateAndOffersItsAction) {
    TunnelStatus connected = statusIn(TunnelState::connected);
    connected.serverName = "Германия";
    auto delegate = launch();
    const std::tuple<TunnelStatus, std::string, std::string> cases[] = {
        {statusIn(TunnelState::disconnected), "не подключено", "Подключить"},
        {statusIn(TunnelState::connecting), "подключение…", "Отключить"},
        {connected, "подключено, Германия", "Отключить"},
        {statusIn(TunnelState::connected), "подключено", "Отключить"},
        {statusIn(TunnelState::error), "ошибка", "Подключить"}};
    for (const auto& [status, tip, action] : cases) {
        service_->script([&](auto& s) { s.current = status; });
        delegate->model().refreshStatus();
        ASSERT_TRUE(waitWithEvents([&] { return delegate->model().status() == status; }));
        EXPECT_EQ(delegate->tray()->toolTip().toStdString(), "ORVEX — " + tip);
        EXPECT_EQ(menuTexts(*delegate),
                  (Journal{"ORVEX — " + tip, "—", action, "Открыть ORVEX", "—", "Выход"}));
    }

    // A mandatory update turns the action into the way to the update.
    test::UpdateMirrors mirrors(dir_.path());
    mirrors.first().setManifest(
        test::UpdateMirrors::manifest("9.0.0", "https://x/ORVEX-9.0.0.dmg", "", "9.0.0"));
    delegate->model().checkUpdateSilently();
    ASSERT_TRUE(waitWithEvents([&] { return delegate->model().mandatoryUpdatePending(); }));
    EXPECT_EQ(menuTexts(*delegate)[0], "ORVEX — ошибка");
    EXPECT_EQ(menuTexts(*delegate)[2], "Нужно обновление — обновить");
    service_->script([](auto& s) { s.current = statusIn(TunnelState::disconnected); });
    delegate->model().refreshStatus();
    ASSERT_TRUE(waitWithEvents([&] { return delegate->tray()->toolTip() == "ORVEX — нужно обновление"; }));
    EXPECT_TRUE(widgetFileHas(R"("blocked":true)"));
    delegate->window()->hide();
    delegate->trayMenu()->actions()[2]->trigger();
    EXPECT_TRUE(delegate->window()->isVisible());
    EXPECT_TRUE(service_->journal().empty());
}

TEST_F(AppDelegateTest, LinksToggleShowOrCarryASignInCode) {
    const std::tuple<const char*, Journal, bool> cases[] = {
        {"orvexvpn://toggle", {"connect Нидерланды"}, false},
        {"orvexvpn://update", {}, false},
        {"orvexvpn://code/AB12CD", {}, true},
        {"orvexvpn://something-else", {}, false}};
    for (const auto& [url, calls, codeKept] : cases) {
        SCOPED_TRACE(url);
        auto delegate = launch();
        delegate->window()->close();
        delegate->openURLs({QString::fromUtf8(url)});
        EXPECT_TRUE(delegate->window()->isVisible());
        ASSERT_TRUE(waitWithEvents(
            [&] { return !delegate->model().busy() && service_->journal().size() >= calls.size(); }));
        EXPECT_EQ(service_->journal(), calls);
        EXPECT_EQ(delegate->model().pendingLinkCode().has_value(), codeKept);
    }
}

// Right after launch the model still shows the neutral status: a toggle then must not turn a
// running tunnel's "disconnect" into a connect.
TEST_F(AppDelegateTest, AToggleAtLaunchIsDecidedOnTheServicesStatus) {
    auto held = std::make_shared<test::FakeService>();
    held->script([](auto& s) { s.current = statusIn(TunnelState::connected); });
    held->hold("status");
    env_.service = held;
    AppDelegate delegate(env_, {.widgetFolder = dir_ / "widget", .terminate = [] {}});
    delegate.launch();
    delegate.openURLs({"orvexvpn://toggle"});
    held->release("status");
    ASSERT_TRUE(waitWithEvents([&] { return !held->journal().empty() && !delegate.model().busy(); }));
    EXPECT_EQ(held->journal().back(), "disconnect");
}

TEST_F(AppDelegateTest, AToggleThatFailsLeavesNoPendingMarkForTheWidget) {
    std::filesystem::remove(Paths::daemonPlist());
    desktop_.elevation = [](const std::string&) { throw ElevationError::cancelled(); };
    auto delegate = launch();
    service_->script([](auto& s) { s.running = false; });
    delegate->model().toggleConnection();
    EXPECT_TRUE(widgetFileHas(R"("pending":"connect")"));
    ASSERT_TRUE(waitWithEvents([&] { return !delegate->model().busy(); }));
    EXPECT_EQ(delegate->model().message(), "Установка отменена");
    EXPECT_FALSE(widgetFileHas("pending"));
}

TEST_F(AppDelegateTest, QuittingWhileConnectedWaitsForTheDisconnectAndIsAnsweredOnce) {
    for (bool serviceHangs : {false, true}) {
        SCOPED_TRACE(serviceHangs);
        terminations_ = 0;
        auto delegate = launch(true);
        delegate->model().refreshStatus();
        ASSERT_TRUE(
            waitWithEvents([&] { return delegate->model().status().state == TunnelState::connected; }));
        if (serviceHangs) service_->hold("disconnect");
        delegate->requestQuit();
        delegate->requestQuit();
        ASSERT_TRUE(waitWithEvents([&] { return terminations_ == 1; }, std::chrono::seconds(8)));
        EXPECT_TRUE(widgetFileHas(R"("alive":false)"));
        service_->release("disconnect");
        waitWithEvents([&] { return !service_->waiting("disconnect") && terminations_ > 1; },
                       std::chrono::milliseconds(200));
        EXPECT_EQ(terminations_, 1);
    }
    terminations_ = 0;
    launch()->requestQuit();
    EXPECT_EQ(terminations_, 1) << "disconnected: at once";
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

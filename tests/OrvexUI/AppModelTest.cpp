// The model's rules against a scripted service, a fake clock and the account-server fixture.
#include "AppModel.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "APIClient.h"
#include "APIServerFixture.h"
#include "ElevationError.h"
#include "MemoryKeychain.h"
#include "ModelFakes.h"
#include "Paths.h"
#include "RecordingCentre.h"
#include "TokenStore.h"
#include "UpdateMirrors.h"
#include "Workspace.h"

namespace orvex {
namespace {

using test::statusIn;
using test::waitWithEvents;

class AppModelTest : public ::testing::Test {
protected:
    AppModelTest()
        : root_("ORVEX_ROOT", dir_.path()), home_("HOME", dir_ / "home"), server_(servers_.start()),
          service_(std::make_shared<test::FakeService>()), clock_(desktop_.clock), keychain_(desktop_.keychain),
          centre_(desktop_.centre), workspace_(desktop_.workspace) {
        test::ensureQtApplication();
        desktop_.journal = [this](const std::string& entry) { service_->note(entry); };
        desktop_.elevation = [this](const std::string& argument) {
            if (elevation) elevation(argument);
        };
        env_ = test::environment(dir_.path(), service_, server_->baseURL(), desktop_);
        env_.widgetPending = [this](const std::string& pending) { service_->note("widget " + pending); };
    }

    std::unique_ptr<AppModel> model() { return std::make_unique<AppModel>(env_); }
    void link() { TokenStore::save(server_->token(), *keychain_); }
    void installJob() {
        Paths::ensureDir(std::filesystem::path(Paths::daemonPlist()).parent_path());
        test::writeFile(Paths::daemonPlist(), "job");
    }
    static bool idle(AppModel& m) {
        return waitWithEvents([&] { return !m.busy(); });
    }
    // Account-server paths asked for, in order, with the service's journal interleaved.
    std::vector<std::string> requests() {
        std::vector<std::string> paths;
        for (const auto& r : server_->requests()) paths.push_back(r.path);
        return paths;
    }

    test::TempDir dir_;
    test::ScopedEnv root_;
    test::ScopedEnv home_;
    test::APIServerFixture servers_;
    std::unique_ptr<test::AccountServer> server_;
    std::shared_ptr<test::FakeService> service_;
    test::Desktop desktop_;
    std::shared_ptr<test::FakeClock> clock_;
    std::shared_ptr<MemoryKeychain> keychain_;
    std::shared_ptr<test::RecordingCentre> centre_;
    std::shared_ptr<test::RecordingWorkspace> workspace_;
    std::function<void(const std::string&)> elevation;
    AppEnvironment env_;
};

TEST_F(AppModelTest, StartsFromWhatIsStoredWithoutAskingAnyone) {
    auto fresh = model();
    EXPECT_FALSE(fresh->linked());
    EXPECT_FALSE(fresh->daemonInstalled());
    EXPECT_EQ(fresh->status(), TunnelStatus::neutral());
    EXPECT_TRUE(fresh->status().adBlockEnabled);

    link();
    installJob();
    auto linked = model();
    EXPECT_TRUE(linked->linked());
    EXPECT_TRUE(linked->daemonInstalled());
    EXPECT_EQ(server_->requestCount(), 0u);
    EXPECT_TRUE(service_->journal().empty());
}

TEST_F(AppModelTest, ASecondActionWhileOneRunsIsDroppedWithoutTouchingTheLines) {
    link();
    service_->hold("disconnect");
    auto m = model();
    m->disconnect();
    ASSERT_TRUE(waitWithEvents([&] { return service_->waiting("disconnect"); }));
    int started = 0;
    m->run([&] { ++started; });
    m->setKillSwitch(true);
    service_->release("disconnect");
    ASSERT_TRUE(idle(*m));
    EXPECT_EQ(started, 0);
    EXPECT_EQ(service_->journal(), std::vector<std::string>{"disconnect"});
}

TEST_F(AppModelTest, FailuresEndInTheMessageAndTheLog) {
    test::writeFile(dir_ / "logs/logging.on", "");
    auto m = model();
    EXPECT_TRUE(m->loggingEnabled());
    m->run([] { throw ElevationError::cancelled(); });
    ASSERT_TRUE(idle(*m));
    EXPECT_EQ(m->message(), "Установка отменена");
    m->log().flush();
    EXPECT_NE(test::readFile(m->log().filePath()).find("действие не выполнено: Установка отменена"),
              std::string::npos);
}

TEST_F(AppModelTest, TheFirstConnectInstallsTheServiceBehindItsNotice) {
    link();
    service_->script([](auto& s) { s.running = false; });
    std::vector<OptionalText> notices;
    elevation = [&](const std::string&) {
        installJob();
        service_->script([](auto& s) { s.running = true; });
    };
    auto m = model();
    QObject::connect(m.get(), &AppModel::noticeChanged, [&] { notices.push_back(m->notice()); });
    m->connect();
    ASSERT_TRUE(idle(*m));
    EXPECT_EQ(m->message(), std::nullopt);
    EXPECT_TRUE(m->daemonInstalled());
    EXPECT_EQ(m->status().state, TunnelState::connected);
    EXPECT_EQ(service_->journal(),
              (std::vector<std::string>{"elevate -install-service", "connect Нидерланды"}));
    ASSERT_GE(notices.size(), 2u);
    EXPECT_EQ(notices[1],
              "Устанавливаем фоновую службу — система попросит пароль администратора. Это один раз.");
    EXPECT_EQ(m->notice(), std::nullopt);
}

// A registered but silent service is reinstalled at most once per 600 s while repairs fail.
TEST_F(AppModelTest, ARepairIsThrottledForTenMinutesAfterItFailed) {
    struct Case {
        int advance; // seconds between the failed repair and the next try (the 10 s of probing come on top)
        bool prompts;
    };
    for (Case c : {Case{589, false}, Case{591, true}}) {
        SCOPED_TRACE(c.advance);
        installJob();
        service_->script([](auto& s) { s.running = false; });
        elevation = [](const std::string&) { throw ElevationError::cancelled(); };
        auto m = model();
        m->connect();
        ASSERT_TRUE(idle(*m));
        EXPECT_EQ(m->message(), "Установка отменена");

        clock_->advance(std::chrono::seconds(c.advance));
        m->connect();
        ASSERT_TRUE(idle(*m));
        size_t prompts = std::ranges::count(service_->journal(), std::string("elevate -install-service"));
        EXPECT_EQ(prompts, c.prompts ? 2u : 1u);
        if (!c.prompts) {
            EXPECT_EQ(m->message(), "Служба не отвечает, и переустановка не помогла. Посмотрите " +
                                        Paths::daemonLogDir() +
                                        "/service.log — приложение больше не будет спрашивать пароль само.");
        }
        service_ = std::make_shared<test::FakeService>();
        env_.service = service_;
    }
}

TEST_F(AppModelTest, TheToggleFollowsTheTunnelState) {
    struct Case {
        TunnelState state;
        const char* expected; // the service call, or nothing
    };
    link();
    installJob();
    for (Case c :
         {Case{TunnelState::disconnected, "connect Нидерланды"}, Case{TunnelState::connecting, "disconnect"},
          Case{TunnelState::connected, "disconnect"}, Case{TunnelState::error, "connect Нидерланды"}}) {
        service_ = std::make_shared<test::FakeService>();
        service_->script([&](auto& s) { s.current = statusIn(c.state); });
        env_.service = service_;
        auto m = model();
        m->refreshStatus();
        ASSERT_TRUE(waitWithEvents([&] { return m->status().state == c.state; }));
        m->toggleConnection();
        ASSERT_TRUE(idle(*m));
        std::string pending =
            c.expected == std::string("disconnect") ? "widget disconnect" : "widget connect";
        EXPECT_EQ(service_->journal(), (std::vector<std::string>{pending, c.expected}));
    }
}

TEST_F(AppModelTest, AMandatoryUpdateRefusesToConnectButStillDisconnects) {
    std::filesystem::create_directories(dir_ / "mirrors");
    test::UpdateMirrors mirrors(dir_ / "mirrors");
    mirrors.first().setManifest(
        test::UpdateMirrors::manifest("9.0.0", "https://x/ORVEX-9.0.0.dmg", "", "9.0.0"));
    installJob();
    auto m = model();
    m->checkUpdateSilently();
    ASSERT_TRUE(waitWithEvents([&] { return m->mandatoryUpdatePending(); }));
    EXPECT_TRUE(m->showUpdateDialog());
    m->dismissUpdateDialog();
    EXPECT_TRUE(m->showUpdateDialog()) << "a mandatory update cannot be dismissed";

    m->toggleConnection();
    m->connect();
    EXPECT_EQ(m->message(), "Обновите приложение — эта версия больше не поддерживается сервером.");
    EXPECT_FALSE(m->busy());

    // Neither does a failed silent check lift the block.
    mirrors.first().setManifest("{}");
    mirrors.second().setManifest("{}");
    m->checkUpdateSilently();
    auto manifest = test::UpdateServer::manifestPath;
    ASSERT_TRUE(waitWithEvents([&] { return mirrors.second().requestCount(manifest) == 1; }));
    EXPECT_FALSE(
        waitWithEvents([&] { return !m->mandatoryUpdatePending(); }, std::chrono::milliseconds(300)));

    service_->script([](auto& s) { s.current = statusIn(TunnelState::connected); });
    m->refreshStatus();
    ASSERT_TRUE(waitWithEvents([&] { return m->status().state == TunnelState::connected; }));
    m->toggleConnection();
    ASSERT_TRUE(idle(*m));
    EXPECT_EQ(service_->journal().back(), "disconnect");
    EXPECT_EQ(centre_->posted.size(), 1u) << "the new version is announced once";
}

// A poll that left before an action's answer arrived describes an older moment.
TEST_F(AppModelTest, AStatusOlderThanTheAppliedOneIsDroppedAndNeverReachesTheNotifier) {
    link();
    installJob();
    service_->script([](auto& s) { s.current = statusIn(TunnelState::error, true); });
    service_->hold("status");
    auto m = model();
    m->refreshStatus();
    ASSERT_TRUE(waitWithEvents([&] { return service_->waiting("status"); }));
    m->toggleConnection();
    ASSERT_TRUE(idle(*m));
    ASSERT_EQ(m->status().state, TunnelState::connected);
    service_->script([](auto& s) { s.current = statusIn(TunnelState::error, true); });
    service_->release("status");
    ASSERT_TRUE(waitWithEvents([&] { return !service_->waiting("status"); }));
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(m->status().state, TunnelState::connected);
    EXPECT_TRUE(centre_->posted.empty());

    // Polls after it apply, and a hold that sets in is announced once.
    for (int i = 0; i < 3; ++i) {
        m->refreshStatus();
        ASSERT_TRUE(waitWithEvents([&] { return m->status().killSwitchHold; }));
    }
    ASSERT_TRUE(waitWithEvents([&] { return centre_->posted.size() == 1; }));
    EXPECT_EQ(centre_->posted[0].title, "Трафик заблокирован");
}

TEST_F(AppModelTest, AHungServiceHoldsNeitherThePollQueueNorTheActions) {
    installJob();
    service_->hold("status");
    auto m = model();
    m->startPolling();
    ASSERT_TRUE(waitWithEvents([&] { return service_->waiting("status"); }));
    m->refreshStatus();
    m->refreshStatus(); // skipped: the first is still out
    m->setKillSwitch(true);
    ASSERT_TRUE(idle(*m));
    EXPECT_TRUE(m->status().killSwitchEnabled);

    service_->script([](auto& s) { s.current = statusIn(TunnelState::connected); });
    bool quit = false;
    m->shutdownTunnel([&] { quit = true; });
    EXPECT_TRUE(quit) << "nothing to disconnect: at once";
    m->stopPolling();
    service_->release("status");
}

TEST_F(AppModelTest, ShutdownWaitsForTheDisconnectAndAnswersOnce) {
    installJob();
    service_->script([](auto& s) { s.current = statusIn(TunnelState::connected); });
    auto m = model();
    m->refreshStatus();
    ASSERT_TRUE(waitWithEvents([&] { return m->status().state == TunnelState::connected; }));
    service_->script([](auto& s) { s.failStatus = true; });
    int answers = 0;
    m->shutdownTunnel([&] { ++answers; });
    EXPECT_EQ(answers, 0);
    ASSERT_TRUE(waitWithEvents([&] { return answers == 1; }));
    EXPECT_EQ(m->status().state, TunnelState::connected) << "a failed disconnect keeps the status";
}

TEST_F(AppModelTest, AdBlockingFetchesTheConfigurationBeforeItDisconnects) {
    link();
    service_->script([](auto& s) {
        s.current = statusIn(TunnelState::connected);
        s.needReconnect = true;
    });
    auto m = model();
    server_->setOverride("/api/config", {.status = 400, .body = R"({"detail":"Ремонт"})"});
    m->setAdBlock(false);
    ASSERT_TRUE(idle(*m));
    EXPECT_EQ(service_->journal(), std::vector<std::string>{"ad block off"});
    EXPECT_EQ(m->notice(), "Переподключаемся, чтобы применить настройку DNS.");
    EXPECT_EQ(m->message(), "Ремонт");

    server_->clearOverrides();
    m->setAdBlock(true);
    ASSERT_TRUE(idle(*m));
    EXPECT_EQ(service_->journal(),
              (std::vector<std::string>{"ad block off", "ad block on", "disconnect", "connect Нидерланды"}));
    EXPECT_EQ(m->notice(), std::nullopt);
    EXPECT_EQ(m->status().state, TunnelState::connected);
}

TEST_F(AppModelTest, AServerChangeReconnectsThenReloadsAndItsCooldownCountsDown) {
    link();
    installJob();
    service_->script([](auto& s) { s.current = statusIn(TunnelState::connected); });
    auto m = model();
    m->refreshStatus();
    m->reload();
    ASSERT_TRUE(waitWithEvents(
        [&] { return m->servers().size() >= 2 && m->status().state == TunnelState::connected; }));
    ServerItem second = m->servers()[1];
    server_->clearRequests();
    m->changeServer(second);
    ASSERT_TRUE(idle(*m));
    ASSERT_TRUE(waitWithEvents([&] { return server_->requestCount() == 4; }));
    EXPECT_EQ(requests(), (std::vector<std::string>{"/api/server/change", "/api/config", "/api/subscription",
                                                    "/api/servers"}));
    EXPECT_EQ(service_->journal(), (std::vector<std::string>{"disconnect", "connect " + second.name}));

    // The server now refuses further changes for its cooldown; the model counts it down.
    ASSERT_TRUE(waitWithEvents([&] { return m->changeRetryAfter() > 0; }));
    std::int64_t left = m->changeRetryAfter();
    ASSERT_GT(left, 60);
    clock_->advance(std::chrono::seconds(left - 45));
    EXPECT_EQ(m->changeRetryAfter(), 45);
    server_->clearRequests();
    m->changeServer(m->servers()[0]);
    EXPECT_EQ(m->message(), "Сменить сервер можно снова через 1 мин.");
    EXPECT_EQ(server_->requestCount(), 0u);
    clock_->advance(std::chrono::seconds(45));
    EXPECT_EQ(m->changeRetryAfter(), 0);
}

TEST_F(AppModelTest, LoggingSwitchesBothLogsOrNeither) {
    service_->script([](auto& s) { s.failLogging = true; });
    auto m = model();
    m->setLogging(true);
    ASSERT_TRUE(idle(*m));
    EXPECT_TRUE(m->loggingEnabled());
    EXPECT_TRUE(m->log().isEnabled());
    ASSERT_TRUE(m->message().has_value());
    EXPECT_TRUE(m->message()->starts_with("Логи приложения переключены, но служба не ответила: "));

    service_->hold("disconnect");
    m->disconnect();
    m->setLogging(false);
    EXPECT_TRUE(m->loggingEnabled()) << "a press while an action runs switches nothing";
    service_->release("disconnect");
    ASSERT_TRUE(idle(*m));
}

TEST_F(AppModelTest, PingsFillInServerByServer) {
    link();
    auto m = model();
    m->reload();
    ASSERT_TRUE(waitWithEvents([&] { return !m->servers().empty(); }));
    m->measurePings();
    ASSERT_TRUE(waitWithEvents([&] { return m->pings().size() == m->servers().size(); }));
    for (const ServerItem& s : m->servers()) EXPECT_EQ(m->pings().at(s.id), 42);
}

TEST_F(AppModelTest, AnUnlinkedDeviceAsksTheAccountServerNothing) {
    installJob();
    auto m = model();
    m->reload();
    m->pollServerNotifications();
    m->startPolling();
    ASSERT_TRUE(waitWithEvents([&] { return m->status() == TunnelStatus::neutral() && !m->busy(); }));
    EXPECT_EQ(server_->requestCount(), 0u);
}

TEST_F(AppModelTest, RevealingTheLogAndSettingAutostartGoThroughTheDesktop) {
    env_.setAutostart = [](bool) {
        return OptionalText("Автозапуск доступен только для установленного приложения");
    };
    auto m = model();
    m->revealAppLog();
    EXPECT_EQ(workspace_->opened, std::vector<std::string>{"reveal " + env_.appLogDir + "/app.log"});
    m->setAutostart(true);
    ASSERT_TRUE(waitWithEvents([&] { return m->message().has_value(); }));
    EXPECT_FALSE(m->autostart());
}

} // namespace
} // namespace orvex

// The model's rules and flows against a scripted service, a fake clock and the account server.
#include "AppModel.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <map>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include "APIClient.h"
#include "ElevationError.h"
#include "FakeMacTools.h"
#include "FileDescriptor.h"
#include "ModelFakes.h"
#include "Paths.h"
#include "SystemInfo.h"
#include "UpdateMirrors.h"

namespace orvex {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using test::idle;
using test::statusIn;
using test::waitWithEvents;
using Journal = std::vector<std::string>;

class AppModelTest : public ::testing::Test, protected test::ScratchDesktop {
protected:
    AppModelTest() {
        env_.widgetPending = [this](const std::string& pending) { service_->note("widget " + pending); };
    }
    test::ScopedEnv bot_{"ORVEX_BOT_URL", "https://t.me/orvex_test_bot"};
};
class AppModelAccountTest : public AppModelTest {};

TEST_F(AppModelTest, ASecondActionWhileOneRunsIsDroppedWithoutTouchingTheLines) {
    link();
    service_->hold("disconnect");
    auto m = model();
    m->disconnect();
    ASSERT_TRUE(waitWithEvents([&] { return service_->waiting("disconnect"); }));
    int started = 0;
    m->run([&] { ++started; });
    m->setKillSwitch(true);
    m->setLogging(true);
    service_->release("disconnect");
    ASSERT_TRUE(idle(*m));
    EXPECT_EQ(started, 0);
    EXPECT_FALSE(m->loggingEnabled());
    EXPECT_EQ(service_->journal(), Journal{"disconnect"});
}

TEST_F(AppModelTest, TheFirstConnectInstallsTheServiceBehindItsNoticeAndItCanBeRemoved) {
    link();
    service_->script([](auto& s) { s.running = false; });
    elevation_ = [&](const std::string&) {
        installJob();
        service_->script([](auto& s) { s.running = true; });
    };
    auto m = model();
    std::vector<OptionalText> notices;
    QObject::connect(m.get(), &AppModel::noticeChanged, [&] { notices.push_back(m->notice()); });
    m->connect();
    ASSERT_TRUE(idle(*m));
    EXPECT_EQ(m->message(), std::nullopt);
    EXPECT_TRUE(m->daemonInstalled());
    EXPECT_EQ(m->status().state, TunnelState::connected);
    EXPECT_EQ(service_->journal(), (Journal{"elevate -install-service", "connect Нидерланды"}));
    EXPECT_EQ(std::ranges::count(notices, "Устанавливаем фоновую службу — система попросит пароль "
                                          "администратора. Это один раз."),
              1);
    EXPECT_EQ(m->notice(), std::nullopt);

    m->removeDaemon();
    ASSERT_TRUE(idle(*m));
    EXPECT_FALSE(m->daemonInstalled());
    EXPECT_EQ(m->status(), TunnelStatus::neutral());
    EXPECT_EQ(service_->journal().back(), "elevate -uninstall-service");
}

// A silent service is reinstalled at most once per 600 s (the 10 s of probing come on top).
TEST_F(AppModelTest, ARepairIsThrottledForTenMinutesAfterItFailed) {
    test::writeFile(dir_ / "logs/logging.on", "");
    for (auto [wait, prompts] : {std::pair{589, 1}, std::pair{591, 2}}) {
        SCOPED_TRACE(wait);
        freshService();
        installJob();
        service_->script([](auto& s) { s.running = false; });
        elevation_ = [](const std::string&) { throw ElevationError::cancelled(); };
        auto m = model();
        m->connect();
        ASSERT_TRUE(idle(*m));
        EXPECT_EQ(m->message(), "Установка отменена");
        m->log().flush();
        EXPECT_NE(test::readFile(m->log().filePath()).find("действие не выполнено: Установка отменена"),
                  std::string::npos);
        clock_->advance(std::chrono::seconds(wait));
        m->connect();
        ASSERT_TRUE(idle(*m));
        EXPECT_EQ(std::ranges::count(service_->journal(), std::string("elevate -install-service")), prompts);
        EXPECT_EQ(m->message(),
                  prompts == 2 ? "Установка отменена"
                               : "Служба не отвечает, и переустановка не помогла. Посмотрите " +
                                     Paths::daemonLogDir() +
                                     "/service.log — приложение больше не будет спрашивать пароль само.");
    }
}

// The connected and disconnected states are the delegate tests' and the widget's.
TEST_F(AppModelTest, TheToggleFollowsTheTunnelState) {
    link();
    installJob();
    for (auto [state, call] :
         {std::pair{TunnelState::connecting, "disconnect"}, {TunnelState::error, "connect Нидерланды"}}) {
        freshService();
        service_->script([&](auto& s) { s.current = statusIn(state); });
        auto m = model();
        m->refreshStatus();
        ASSERT_TRUE(waitWithEvents([&] { return m->status().state == state; }));
        m->toggleConnection();
        ASSERT_TRUE(idle(*m));
        std::string pending = call == std::string("disconnect") ? "widget disconnect" : "widget connect";
        EXPECT_EQ(service_->journal(), (Journal{pending, call}));
    }
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
    EXPECT_EQ(service_->journal(), Journal{"ad block off"});
    EXPECT_EQ(m->notice(), "Переподключаемся, чтобы применить настройку DNS.");
    EXPECT_EQ(m->message(), "Ремонт");

    server_->clearOverrides();
    m->setAdBlock(true);
    ASSERT_TRUE(idle(*m));
    EXPECT_EQ(service_->journal(),
              (Journal{"ad block off", "ad block on", "disconnect", "connect Нидерланды"}));
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
    Journal paths;
    for (const auto& r : server_->requests()) paths.push_back(r.path);
    EXPECT_EQ(paths, (Journal{"/api/server/change", "/api/config", "/api/subscription", "/api/servers"}));
    EXPECT_EQ(service_->journal(), (Journal{"disconnect", "connect " + second.name}));

    // The server now refuses further changes for its cooldown; the model counts it down.
    ASSERT_TRUE(waitWithEvents([&] { return m->changeRetryAfter() > 60; }));
    clock_->advance(std::chrono::seconds(m->changeRetryAfter() - 45));
    EXPECT_EQ(m->changeRetryAfter(), 45);
    server_->clearRequests();
    m->changeServer(m->servers()[0]);
    EXPECT_EQ(m->message(), "Сменить сервер можно снова через 1 мин.");
    EXPECT_EQ(server_->requestCount(), 0u);
    clock_->advance(std::chrono::seconds(45));
    EXPECT_EQ(m->changeRetryAfter(), 0);
}

// Only a refusal proves the service is not installing; then the package, then the image.
TEST_F(AppModelTest, AnUpdateFallsFromTheServiceToThePackageToTheImage) {
    test::ScopedEnv temporary("TMPDIR", dir_ / "tmp");
    fs::create_directories(dir_ / "tmp");
    fs::create_directories(dir_ / "usr/bin");
    fs::create_directories(dir_ / "Applications");
    fs::create_symlink(test::fixture("osascript"), dir_ / "usr/bin/osascript");
    test::UpdateMirrors mirrors(dir_.path());
    test::FakeMacTools tools(dir_.path());
    mirrors.publish("1.5.0");
    test::FakeMacTools::makeApplication(dir_ / "new/ORVEX.app", "1.5.0");
    tools.setPackageContents(dir_ / "new/ORVEX.app");
    tools.setImageContents(dir_ / "new", "ORVEX 1.5.0");
    tools.failAt("installer", 1);
    installJob();
    test::writeFile(dir_ / "logs/logging.on", "");
    service_->script([](auto& s) { s.updateRefusal = "установщик отказал"; });
    auto m = model();
    m->checkUpdate();
    ASSERT_TRUE(idle(*m));
    ASSERT_TRUE(m->update().has_value()) << m->message().value_or("");
    m->installUpdate();
    ASSERT_TRUE(waitWithEvents([&] { return !m->busy(); }, std::chrono::seconds(60)));
    EXPECT_EQ(m->message(), "Версия 1.5.0 установлена. Перезапустите ORVEX.");
    EXPECT_TRUE(m->updateReady() && !m->updateProgress());
    EXPECT_EQ(tools.calls("installer").size(), 1u);
    EXPECT_EQ(service_->journal(), (Journal{"install update 1.5.0", "elevate -install-service"}));
    m->log().flush();
    std::string log = test::readFile(m->log().filePath());
    for (const char* line : {"служба не поставила обновление (установщик отказал), пробую сам",
                             "установщик не сработал (", "обновление установлено из образа: 1.5.0 в "})
        EXPECT_NE(log.find(line), std::string::npos) << log;
}

TEST_F(AppModelAccountTest, AnOversizedFileIsRefusedAndEmptyInputsStartNothing) {
    link();
    {
        FileDescriptor huge(::open((dir_ / "huge.bin").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
        ASSERT_EQ(::ftruncate(huge.get(), APIClient::maxAttachmentBytes + 1), 0); // sparse: no disk used
    }
    auto m = model();
    m->attachSupportFile(dir_ / "huge.bin");
    ASSERT_TRUE(idle(*m));
    EXPECT_EQ(m->message(), "Файл больше 20 МБ");
    const std::function<void(AppModel&)> ignored[] = {
        [](AppModel& m) { m.link(" \n"); },
        [](AppModel& m) { m.login("demo@orvex.test", ""); },
        [](AppModel& m) { m.login(" ", "demo-password"); },
        [](AppModel& m) { m.registerAccount("", "pw"); },
        [](AppModel& m) { m.forgotPassword("\u00a0"); },
        [](AppModel& m) { m.resetPassword("RESET-7", ""); },
        [](AppModel& m) { m.linkEmail("a@b.c", ""); },
        [](AppModel& m) { m.linkTelegram("\t"); },
        [](AppModel& m) { m.applyPromo("  "); },
        [](AppModel& m) { m.sendReport(" \n "); },
        [](AppModel& m) { m.sendSupportMessage("\r\n"); },
    };
    for (size_t i = 0; i < std::size(ignored); ++i) {
        int busyChanges = 0;
        auto counting = QObject::connect(m.get(), &AppModel::busyChanged, [&] { ++busyChanges; });
        ignored[i](*m);
        QObject::disconnect(counting);
        EXPECT_EQ(busyChanges, 0) << i;
        EXPECT_EQ(m->message(), "Файл больше 20 МБ") << i << ": the message stays";
    }
    EXPECT_EQ(server_->requestCount(), 0u) << "the file was refused before sending";
}

TEST_F(AppModelAccountTest, ACodeByLinkSignsInWithinFiveMinutesOfOpeningTheBotUnlessAnActionRuns) {
    struct Case {
        std::optional<int> openedAgo; // seconds since the bot was opened; nothing: never opened
        bool busy, signsIn;
    } const cases[] = {{299, false, true}, {301, false, false}, {{}, false, false}, {1, true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.openedAgo.value_or(-1));
        TokenStore::clear(*keychain_);
        workspace_->opened.clear();
        server_->clearRequests();
        auto m = model();
        if (c.openedAgo) {
            m->openBotForCode();
            EXPECT_EQ(workspace_->opened,
                      std::vector<std::string>{"https://t.me/orvex_test_bot?start=getcode"});
            clock_->advance(std::chrono::seconds(*c.openedAgo));
        }
        if (c.busy) service_->hold("disconnect");
        if (c.busy) m->disconnect();
        m->handleDeepLinkCode("246810");
        service_->release("disconnect");
        ASSERT_TRUE(idle(*m));
        EXPECT_EQ(m->linked(), c.signsIn);
        EXPECT_EQ(requestsTo("/api/auth").size(), c.signsIn ? 1u : 0u);
        EXPECT_EQ(m->pendingLinkCode(), c.signsIn ? std::nullopt : OptionalText("246810"));
        if (!c.signsIn) continue;
        m->handleDeepLinkCode("135790"); // the window closed with the first code
        ASSERT_TRUE(idle(*m));
        EXPECT_EQ(m->pendingLinkCode(), "135790");
        EXPECT_EQ(requestsTo("/api/auth").size(), 1u);
    }
}

TEST_F(AppModelAccountTest, SigningOutDropsTheWholeAccountAtOnceAndLogsOutWithWhatWasStored) {
    const auto loads = {&AppModel::loadSupportMessages, &AppModel::loadEvents, &AppModel::loadDevices};
    for (bool stored : {true, false}) {
        SCOPED_TRACE(stored);
        link();
        auto m = model();
        m->reload();
        for (auto load : loads) ((*m).*load)();
        ASSERT_TRUE(waitWithEvents([&] {
            return !m->servers().empty() && !m->supportMessages().empty() && !m->events().empty() &&
                   !m->devices().empty() && m->changeCooldown() > 0;
        }));
        m->measurePings();
        m->handleDeepLinkCode("246810");
        m->changeServer(m->servers()[1]);
        ASSERT_TRUE(
            waitWithEvents([&] { return !m->busy() && m->changeRetryAfter() > 0 && !m->pings().empty(); }));
        if (!stored) TokenStore::clear(*keychain_);
        server_->clearRequests();
        service_->hold("disconnect");
        m->disconnect(); // signing out does not wait for an action
        m->unlink();
        EXPECT_FALSE(m->linked() || m->subscription());
        EXPECT_TRUE(m->servers().empty() && m->supportMessages().empty() && m->events().empty() &&
                    m->devices().empty() && m->pings().empty());
        EXPECT_EQ(m->pendingLinkCode(), std::nullopt);
        EXPECT_EQ(m->changeRetryAfter() + m->changeCooldown(), 0);
        service_->release("disconnect");
        ASSERT_TRUE(waitWithEvents([&] { return requestsTo("/api/logout").size() == 1; }));
        EXPECT_EQ(requestsTo("/api/logout")[0].header("Authorization"),
                  stored ? OptionalText("Bearer " + server_->token()) : std::nullopt);
        EXPECT_EQ(TokenStore::load(*keychain_), std::nullopt);
        for (auto load : loads) ((*m).*load)();
        ASSERT_TRUE(idle(*m));
        EXPECT_EQ(server_->requestCount(), 1u) << "an unlinked device asks for nothing";
    }
}

// Answers to the first account land nowhere; the second account's conversation loads whole.
TEST_F(AppModelAccountTest, AfterSigningOutAndInTheNextAccountSeesOnlyItsOwnConversation) {
    auto second = servers_.start(true, 0, 2);
    // The first account's server stops later; requests then fall through to the second.
    env_.api = std::make_shared<APIClient>(std::vector<std::string>{server_->baseURL(), second->baseURL()});
    link();
    auto m = model();
    m->loadSupportMessages();
    ASSERT_TRUE(waitWithEvents([&] { return m->supportMessages().size() == 3; }));
    std::string late = R"({"messages":[{"id":9000000000,"direction":"support","created_at":"x"}]})";
    server_->setOverride("/api/support/messages", {.body = late, .delay = std::chrono::seconds(20)});
    server_->setOverride("/api/devices", {.body = R"({"devices":[]})", .delay = std::chrono::seconds(20)});
    m->loadSupportMessages();
    m->loadDevices();
    ASSERT_TRUE(waitWithEvents([&] { return requestsTo("/api/devices").size() == 1; }));
    m->unlink();
    server_->stop(); // the held answers go out now
    EXPECT_FALSE(
        waitWithEvents([&] { return !m->supportMessages().empty(); }, std::chrono::milliseconds(300)));

    m->link("246810");
    ASSERT_TRUE(idle(*m));
    ASSERT_TRUE(m->linked());
    m->loadSupportMessages();
    auto own = APIClient({second->baseURL()}).supportMessages(second->token(), 0, 50).messages;
    ASSERT_TRUE(waitWithEvents([&] { return !m->supportMessages().empty(); }));
    std::vector<std::int64_t> shown, expected;
    for (const auto& item : m->supportMessages()) shown.push_back(item.id);
    for (const auto& item : own) expected.push_back(item.id);
    EXPECT_EQ(shown, expected);
}

TEST_F(AppModelAccountTest, TheConversationGrowsByWhatIsNewOnlyWhenLoadsOverlap) {
    link();
    auto m = model();
    m->loadSupportMessages();
    ASSERT_TRUE(waitWithEvents([&] { return m->supportMessages().size() == 3; }));
    std::int64_t last = m->supportMessages().back().id;
    std::int64_t added = server_->addSupportFile("отчёт.pdf", "pdf");
    server_->clearRequests();
    m->loadSupportMessages();
    m->loadSupportMessages();
    ASSERT_TRUE(waitWithEvents([&] { return requestsTo("/api/support/messages").size() == 2; }));
    for (const auto& r : requestsTo("/api/support/messages"))
        EXPECT_EQ(r.parameter("after_id").value_or("") + " " + r.parameter("limit").value_or(""),
                  std::to_string(last) + " 50");
    m->sendSupportMessage("  Спасибо! \n");
    ASSERT_TRUE(idle(*m));
    auto conversation = requestsTo("/api/support/messages");
    auto posted = std::ranges::find(conversation, "POST", &test::RecordedRequest::method);
    EXPECT_EQ(json::parse(posted->body)["text"], "Спасибо!");
    ASSERT_TRUE(waitWithEvents([&] { return m->supportMessages().size() >= 5; }));
    EXPECT_FALSE(
        waitWithEvents([&] { return m->supportMessages().size() > 5; }, std::chrono::milliseconds(300)));
    EXPECT_EQ(m->supportMessages()[3].id, added);
    EXPECT_EQ(m->supportMessages()[4].text, "Спасибо!");
}

TEST_F(AppModelAccountTest, AReportCarriesVersionsStateAndTheLogTailsWhenLoggingIsOn) {
    std::string big = std::string(30000, 'a') + std::string(20000, 'b');
    link();
    for (auto [logging, serviceLog, tail] : {std::tuple{false, big, OptionalText()},
                                             {true, big, std::string(20000, 'b')},
                                             {true, "\xff\xfe", {}}}) {
        SCOPED_TRACE(logging);
        if (logging) test::writeFile(dir_ / "logs/logging.on", "");
        test::writeFile(Paths::daemonLogDir() + "/service.log", serviceLog);
        server_->clearRequests();
        auto m = model();
        m->log().write("до отчёта");
        m->log().flush();
        m->sendReport("\n  Не подключается  ");
        ASSERT_TRUE(idle(*m));
        ASSERT_EQ(requestsTo("/api/support/report").size(), 1u);
        json report = json::parse(requestsTo("/api/support/report")[0].body);
        EXPECT_EQ(report["last_error"], "Не подключается");
        EXPECT_EQ(report["android_version"], SystemInfo::version());
        EXPECT_EQ(report["status"], "disconnected");
        EXPECT_EQ(report.value("app_log", "").find("до отчёта") != std::string::npos, logging);
        EXPECT_EQ(report.contains("service_log") ? OptionalText(report["service_log"]) : std::nullopt, tail);
        ASSERT_TRUE(waitWithEvents([&] { return !m->supportMessages().empty(); }))
            << "the conversation loads";
    }
}

// Everything under `root` outside `except`, with the contents of files and links' targets.
std::map<std::string, std::string> snapshot(const std::string& root, const std::string& except) {
    std::map<std::string, std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        std::string path = entry.path().string();
        if (path.starts_with(except + "/")) continue;
        found[path] = entry.is_symlink()        ? "→ " + fs::read_symlink(entry.path()).string()
                      : entry.is_regular_file() ? test::readFile(path)
                                                : "folder";
    }
    return found;
}

TEST_F(AppModelAccountTest, SavedFilesLandAsNewFilesInsideTheDownloadsFolderWhateverTheirNames) {
    std::string outside = dir_ / "home";
    for (auto [name, text] : {std::pair{"/инструкция.txt", "моя"}, {"/x.txt", "1"}, {"/x 2.txt", "2"}})
        test::writeFile(downloads() + name, text);
    test::writeFile(outside + "/secret.txt", "секрет");
    fs::create_symlink(outside + "/missing.txt", downloads() + "/ссылка.txt");
    fs::create_symlink(outside + "/secret.txt", downloads() + "/secret.txt");
    auto zh = [](int count) { return QString("ж").repeated(count).toStdString(); };
    std::string cyrillic300 = zh(150); // 300 bytes; 127 letters are the most in 255
    const std::pair<OptionalText, std::string> cases[] = {
        // The name sent, and the one saved: "#" stands for the message id.
        {".", "file-#"},
        {"..", "file-#"},
        {std::nullopt, "file-#"},
        {"", "file-#"},
        {"../a/b:c", ".._a_b_c"},
        {"\x01rep\nort\x7f\u0085.txt", "report.txt"},
        {cyrillic300, zh(127)},
        {cyrillic300.substr(0, 296) + ".txt", zh(125) + ".txt"},
        {"инструкция.txt", "инструкция 2.txt"},
        {"x.txt", "x 3.txt"},
        {"ссылка.txt", "ссылка 2.txt"},
        {"secret.txt", "secret 2.txt"},
    };
    link();
    auto m = model();
    auto before = snapshot(dir_.path(), downloads());
    auto files = [&] { return std::distance(fs::directory_iterator(downloads()), {}); };
    auto count = files();
    auto save = [&](const OptionalText& name, const std::string& contents) {
        std::int64_t id = server_->addSupportFile(name, contents);
        m->loadSupportMessages();
        EXPECT_TRUE(waitWithEvents(
            [&] { return !m->supportMessages().empty() && m->supportMessages().back().id == id; }));
        m->saveSupportFile(m->supportMessages().back());
        EXPECT_TRUE(idle(*m));
        return id;
    };
    for (const auto& [sentName, saved] : cases) {
        std::string name = saved;
        std::int64_t id = save(sentName, "содержимое " + saved);
        if (size_t mark = name.find('#'); mark != std::string::npos)
            name.replace(mark, 1, std::to_string(id));
        SCOPED_TRACE(name);
        EXPECT_EQ(m->message(), std::nullopt);
        EXPECT_EQ(m->notice(), "Сохранено: " + name);
        EXPECT_EQ(workspace_->opened.back(), "reveal " + downloads() + "/" + name);
        EXPECT_EQ(test::readFile(downloads() + "/" + name), "содержимое " + saved);
        EXPECT_EQ(files(), ++count);
    }
    EXPECT_EQ(snapshot(dir_.path(), downloads()), before);
    EXPECT_EQ(test::readFile(downloads() + "/инструкция.txt"), "моя");
    EXPECT_FALSE(fs::exists(outside + "/missing.txt"));

    // With every copy's name taken the save fails rather than replace one.
    std::vector<std::string> taken = {downloads() + "/y.txt"};
    for (int copy = 2; copy <= 99; ++copy)
        taken.push_back(downloads() + "/y " + std::to_string(copy) + ".txt");
    for (const std::string& path : taken) test::writeFile(path, "старое");
    save("y.txt", "новое");
    EXPECT_TRUE(m->message().has_value());
    for (const std::string& path : taken) EXPECT_EQ(test::readFile(path), "старое");
}

TEST_F(AppModelAccountTest, APromoCodeReloadsTheAccountAndRevokingThisDeviceSignsOut) {
    link();
    auto m = model();
    m->applyPromo("ORVEX30");
    ASSERT_TRUE(waitWithEvents([&] {
        return requestsTo("/api/events").size() == 1 && requestsTo("/api/servers").size() == 1;
    })) << "history and the servers reload";
    EXPECT_EQ(requestsTo("/api/events")[0].parameter("limit"), "50");

    m->loadDevices();
    ASSERT_TRUE(waitWithEvents([&] { return !m->devices().empty() && m->devices()[0].current; }));
    server_->clearRequests();
    m->revokeDevice(m->devices()[0]); // this device: signs out
    ASSERT_TRUE(idle(*m));
    EXPECT_FALSE(m->linked() || m->subscription());
    EXPECT_TRUE(m->servers().empty());
    ASSERT_TRUE(waitWithEvents([&] { return requestsTo("/api/logout").size() == 1; }));
    EXPECT_TRUE(requestsTo("/api/devices").empty());
}

TEST_F(AppModelAccountTest, FailedLoadsKeepTheirListsAndSayWhy) {
    link();
    test::writeFile(dir_ / "logs/logging.on", "");
    auto m = model();
    auto lists = [&] {
        return std::vector<size_t>{m->supportMessages().size(), m->devices().size(), m->events().size()};
    };
    auto load = [&] {
        for (auto call : {&AppModel::loadSupportMessages, &AppModel::loadDevices, &AppModel::loadEvents})
            ((*m).*call)();
    };
    load();
    ASSERT_TRUE(waitWithEvents([&] { return lists() == std::vector<size_t>{3, 3, 4}; }));
    for (const char* path : {"/api/support/messages", "/api/devices", "/api/events"})
        server_->setOverride(path, {.status = 400, .body = R"({"detail":"Сбой учёта"})"});
    load();
    auto logged = [&](const std::string& line) {
        m->log().flush();
        return test::readFile(m->log().filePath()).find(line + ": Сбой учёта") != std::string::npos;
    };
    EXPECT_TRUE(waitWithEvents([&] {
        return logged("переписка с поддержкой") && logged("устройства") && logged("события") &&
               m->message() == "Сбой учёта";
    }));
    EXPECT_EQ(lists(), (std::vector<size_t>{3, 3, 4}));
}

} // namespace
} // namespace orvex

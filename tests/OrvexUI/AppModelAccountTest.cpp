// The account, support, device, history and promo flows of the model against the account-server
// fixture over TLS, with files saved into a scratch downloads folder.
#include "AppModel.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <unistd.h>

#include "APIClient.h"
#include "APIServerFixture.h"
#include "FileDescriptor.h"
#include "ModelFakes.h"
#include "Paths.h"
#include "SystemInfo.h"
#include "TokenStore.h"

namespace orvex {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using test::waitWithEvents;

class AppModelAccountTest : public ::testing::Test {
protected:
    AppModelAccountTest()
        : root_("ORVEX_ROOT", dir_.path()), home_("HOME", dir_ / "home"),
          bot_("ORVEX_BOT_URL", "https://t.me/orvex_test_bot"), server_(servers_.start()),
          service_(std::make_shared<test::FakeService>()) {
        test::ensureQtApplication();
        env_ = test::environment(dir_.path(), service_, server_->baseURL(), desktop_);
        env_.downloadsDir = [this] { return downloads(); };
        fs::create_directories(downloads());
    }

    std::string downloads() const { return dir_ / "home/Downloads"; }
    std::unique_ptr<AppModel> model() { return std::make_unique<AppModel>(env_); }
    void link() { TokenStore::save(server_->token(), *desktop_.keychain); }
    static bool idle(AppModel& m) {
        return waitWithEvents([&] { return !m.busy(); });
    }
    std::vector<test::RecordedRequest> requestsTo(const std::string& path) {
        std::vector<test::RecordedRequest> found;
        for (const auto& r : server_->requests())
            if (r.path == path) found.push_back(r);
        return found;
    }
    // The body of the one request to `path`, and whether it carried the stored token.
    json sent(const std::string& path, bool bearer) {
        auto found = requestsTo(path);
        EXPECT_EQ(found.size(), 1u) << path;
        if (found.empty()) return {};
        EXPECT_EQ(found[0].header("Authorization"),
                  bearer ? std::optional<std::string>("Bearer " + server_->token()) : std::nullopt);
        return json::parse(found[0].body, nullptr, false);
    }

    test::TempDir dir_;
    test::ScopedEnv root_;
    test::ScopedEnv home_;
    test::ScopedEnv bot_;
    test::APIServerFixture servers_;
    std::unique_ptr<test::AccountServer> server_;
    std::shared_ptr<test::FakeService> service_;
    test::Desktop desktop_;
    AppEnvironment env_;
};

TEST_F(AppModelAccountTest, FlowsSendTheirCleanedInputsAndApplyTheAnswer) {
    struct Case {
        std::function<void(AppModel&)> act;
        const char* path;
        const char* fields;  // expected among the request's keys
        bool linked;         // before, so the request carries the stored token
        OptionalText notice; // nothing: the flow signs in
    };
    std::vector<Case> cases = {
        {[](AppModel& m) { m.link(" 246810\n"); }, "/api/auth", R"({"code":"246810"})", false, std::nullopt},
        {[](AppModel& m) { m.login("  Demo@ORVEX.test \n", "demo-password"); }, "/api/login",
         R"({"email":"demo@orvex.test","password":"demo-password"})", false, std::nullopt},
        {[](AppModel& m) { m.registerAccount(" New@Orvex.Test ", " pw "); }, "/api/register",
         R"({"email":"new@orvex.test","password":" pw "})", false,
         "Письмо для подтверждения отправлено на new@orvex.test"},
        {[](AppModel& m) { m.forgotPassword("\tDEMO@orvex.test"); }, "/api/password/forgot",
         R"({"email":"demo@orvex.test"})", false, "Код для сброса пароля отправлен на почту"},
        {[](AppModel& m) { m.resetPassword(" reset-7\n", "new-pass"); }, "/api/password/reset",
         R"({"token":"RESET-7","new_password":"new-pass"})", false, "Пароль изменён"},
        {[](AppModel& m) { m.linkEmail(" Demo@Orvex.Test ", "pw"); }, "/api/link/email",
         R"({"email":"demo@orvex.test","password":"pw"})", true, "Почта привязана"},
        {[](AppModel& m) { m.linkTelegram(" 246810 "); }, "/api/link/telegram", R"({"code":"246810"})", true,
         "Telegram привязан"},
    };
    const std::set<std::string> labelled = {"/api/auth", "/api/login", "/api/link/telegram"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        TokenStore::clear(*desktop_.keychain);
        if (c.linked) link();
        server_->clearRequests();
        auto m = model();
        c.act(*m);
        ASSERT_TRUE(idle(*m));
        json body = sent(c.path, c.linked);
        json expected = json::parse(c.fields);
        for (const auto& [key, value] : expected.items()) EXPECT_EQ(body[key], value) << key;
        EXPECT_EQ(body.contains("device_label") ? OptionalText(body["device_label"]) : std::nullopt,
                  labelled.contains(c.path) ? OptionalText(SystemInfo::hostName()) : std::nullopt);
        EXPECT_EQ(m->message(), std::nullopt);
        EXPECT_EQ(m->notice(), c.notice);
        bool signedIn = c.linked || !c.notice;
        EXPECT_EQ(m->linked(), signedIn);
        EXPECT_EQ(TokenStore::load(*desktop_.keychain),
                  signedIn ? OptionalText(server_->token()) : std::nullopt);
        if (labelled.contains(c.path)) {
            ASSERT_TRUE(waitWithEvents([&] { return m->subscription().has_value(); })) << "reloads";
        }
    }
}

TEST_F(AppModelAccountTest, RefusalsEndInTheMessageAndIgnoredInputsStartNothing) {
    struct Case {
        std::function<void(AppModel&)> act;
        OptionalText message;       // nothing: ignored, so the previous message stays
        const char* path = nullptr; // where a refused request went, with one cleaned field
        const char* key = nullptr;
        const char* value = nullptr;
    };
    link();
    std::vector<Case> cases = {
        {[](AppModel& m) { m.link(" abc\n"); }, "Неверный или устаревший код", "/api/auth", "code", "ABC"},
        {[](AppModel& m) { m.login(" Demo@orvex.test", "wrong"); }, "Неверный e-mail или пароль",
         "/api/login", "email", "demo@orvex.test"},
        {[](AppModel& m) { m.resetPassword("old", "new"); }, "Код сброса недействителен",
         "/api/password/reset", "token", "OLD"},
        {[](AppModel& m) { m.applyPromo(" nope"); }, "Промокод не найден", "/api/promo/apply", "code",
         "NOPE"},
        {[](AppModel& m) { m.link(" \n"); }, std::nullopt},
        {[](AppModel& m) { m.login("demo@orvex.test", ""); }, std::nullopt},
        {[](AppModel& m) { m.login(" ", "demo-password"); }, std::nullopt},
        {[](AppModel& m) { m.registerAccount("", "pw"); }, std::nullopt},
        {[](AppModel& m) { m.forgotPassword("\u00a0"); }, std::nullopt},
        {[](AppModel& m) { m.resetPassword("RESET-7", ""); }, std::nullopt},
        {[](AppModel& m) { m.linkEmail("a@b.c", ""); }, std::nullopt},
        {[](AppModel& m) { m.linkTelegram("\t"); }, std::nullopt},
        {[](AppModel& m) { m.applyPromo("  "); }, std::nullopt},
        {[](AppModel& m) { m.sendReport(" \n "); }, std::nullopt},
        {[](AppModel& m) { m.sendSupportMessage("\r\n"); }, std::nullopt},
    };
    auto m = model();
    OptionalText previous;
    for (const Case& c : cases) {
        server_->clearRequests();
        int busyChanges = 0;
        auto counting = QObject::connect(m.get(), &AppModel::busyChanged, [&] { ++busyChanges; });
        c.act(*m);
        ASSERT_TRUE(idle(*m));
        QObject::disconnect(counting);
        SCOPED_TRACE(previous.value_or("—"));
        if (c.message) {
            EXPECT_EQ(m->message(), c.message);
            EXPECT_EQ(json::parse(requestsTo(c.path).at(0).body)[c.key], c.value);
            previous = c.message;
        } else {
            EXPECT_EQ(busyChanges, 0);
            EXPECT_EQ(server_->requestCount(), 0u);
            EXPECT_EQ(m->message(), previous);
        }
    }
}

TEST_F(AppModelAccountTest, ACodeByLinkSignsInWithinFiveMinutesOfOpeningTheBotUnlessAnActionRuns) {
    struct Case {
        std::optional<int> openedAgo; // seconds since the bot was opened; nothing: never opened
        bool busy;
        bool signsIn;
    };
    for (Case c : {Case{299, false, true}, Case{301, false, false}, Case{std::nullopt, false, false},
                   Case{1, true, false}}) {
        SCOPED_TRACE(c.openedAgo.value_or(-1));
        TokenStore::clear(*desktop_.keychain);
        desktop_.workspace->opened.clear();
        server_->clearRequests();
        auto m = model();
        if (c.openedAgo) {
            m->openBotForCode();
            EXPECT_EQ(desktop_.workspace->opened,
                      std::vector<std::string>{"https://t.me/orvex_test_bot?start=getcode"});
            desktop_.clock->advance(std::chrono::seconds(*c.openedAgo));
        }
        if (c.busy) {
            service_->hold("disconnect");
            m->disconnect();
        }
        m->handleDeepLinkCode("246810");
        if (c.busy) service_->release("disconnect");
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
    for (bool stored : {true, false}) {
        SCOPED_TRACE(stored);
        link();
        auto m = model();
        m->reload();
        m->loadSupportMessages();
        m->loadEvents();
        m->loadDevices();
        ASSERT_TRUE(waitWithEvents([&] {
            return !m->servers().empty() && !m->supportMessages().empty() && !m->events().empty() &&
                   !m->devices().empty() && m->changeCooldown() > 0;
        }));
        m->measurePings();
        m->handleDeepLinkCode("246810");
        m->changeServer(m->servers()[1]);
        ASSERT_TRUE(
            waitWithEvents([&] { return !m->busy() && m->changeRetryAfter() > 0 && !m->pings().empty(); }));
        if (!stored) TokenStore::clear(*desktop_.keychain);
        server_->clearRequests();
        service_->hold("disconnect");
        m->disconnect(); // signing out does not wait for an action
        m->unlink();
        EXPECT_FALSE(m->linked());
        EXPECT_FALSE(m->subscription().has_value());
        EXPECT_TRUE(m->servers().empty() && m->supportMessages().empty() && m->events().empty() &&
                    m->devices().empty() && m->pings().empty());
        EXPECT_EQ(m->pendingLinkCode(), std::nullopt);
        EXPECT_EQ(m->changeRetryAfter(), 0);
        EXPECT_EQ(m->changeCooldown(), 0);
        service_->release("disconnect");
        ASSERT_TRUE(waitWithEvents([&] { return requestsTo("/api/logout").size() == 1; }));
        EXPECT_EQ(requestsTo("/api/logout")[0].header("Authorization"),
                  stored ? OptionalText("Bearer " + server_->token()) : std::nullopt);
        EXPECT_EQ(TokenStore::load(*desktop_.keychain), std::nullopt);
        m->loadSupportMessages();
        m->loadEvents();
        m->loadDevices();
        ASSERT_TRUE(idle(*m));
        EXPECT_EQ(server_->requestCount(), 1u) << "an unlinked device asks for nothing";
    }
}

// Answers of the first account still on their way land nowhere, and the second account's
// conversation loads whole.
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
    for (const auto& r : requestsTo("/api/support/messages")) {
        EXPECT_EQ(r.parameter("after_id"), std::to_string(last));
        EXPECT_EQ(r.parameter("limit"), "50");
    }
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
    struct Case {
        bool logging;
        std::string serviceLog;
        OptionalText sentServiceLog;
    };
    std::string big = std::string(30000, 'a') + std::string(20000, 'b');
    link();
    for (const Case& c : {Case{false, big, std::nullopt}, Case{true, big, std::string(20000, 'b')},
                          Case{true, "\xff\xfe", std::nullopt}}) {
        SCOPED_TRACE(c.logging);
        if (c.logging) test::writeFile(dir_ / "logs/logging.on", "");
        Paths::ensureDir(Paths::daemonLogDir());
        test::writeFile(Paths::daemonLogDir() + "/service.log", c.serviceLog);
        server_->clearRequests();
        auto m = model();
        m->log().write("до отчёта");
        m->log().flush();
        m->sendReport("\n  Не подключается  ");
        ASSERT_TRUE(idle(*m));
        EXPECT_EQ(m->notice(), "Обращение отправлено. Ответ придёт сюда и в бот.");
        json report = sent("/api/support/report", true);
        EXPECT_EQ(report["last_error"], "Не подключается");
        EXPECT_EQ(report["android_version"], SystemInfo::version());
        EXPECT_EQ(report["status"], "disconnected");
        EXPECT_EQ(report.contains("app_log"), c.logging);
        if (c.logging) {
            EXPECT_NE(report["app_log"].get<std::string>().find("до отчёта"), std::string::npos);
        }
        EXPECT_EQ(report.contains("service_log"), c.sentServiceLog.has_value());
        if (c.sentServiceLog) {
            EXPECT_EQ(report["service_log"], *c.sentServiceLog);
        }
        ASSERT_TRUE(waitWithEvents([&] { return !m->supportMessages().empty(); }))
            << "the conversation loads";
    }
}

TEST_F(AppModelAccountTest, AnAttachmentIsRefusedByItsSizeBeforeAnythingIsSent) {
    link();
    test::writeFile(dir_ / "журнал.txt", "строки");
    {
        FileDescriptor huge(::open((dir_ / "huge.bin").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
        ASSERT_EQ(::ftruncate(huge.get(), APIClient::maxAttachmentBytes + 1), 0); // sparse: no disk used
    }
    auto m = model();
    m->attachSupportFile(dir_ / "huge.bin");
    ASSERT_TRUE(idle(*m));
    EXPECT_EQ(m->message(), "Файл больше 20 МБ");
    EXPECT_EQ(server_->requestCount(), 0u);

    m->attachSupportFile(dir_ / "журнал.txt");
    ASSERT_TRUE(idle(*m));
    EXPECT_EQ(m->message(), std::nullopt);
    auto upload = requestsTo("/api/support/messages/file").at(0);
    EXPECT_EQ(upload.parameter("filename"), "журнал.txt");
    EXPECT_EQ(upload.body, "строки");
    ASSERT_TRUE(waitWithEvents([&] { return m->supportMessages().size() == 4; }));
}

// Everything under `root` outside `except`, with the contents of files and links' targets.
std::map<std::string, std::string> snapshot(const std::string& root, const std::string& except) {
    std::map<std::string, std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        std::string path = entry.path().string();
        if (path.starts_with(except + "/")) continue;
        if (entry.is_symlink())
            found[path] = "→ " + fs::read_symlink(entry.path()).string();
        else
            found[path] = entry.is_regular_file() ? test::readFile(path) : "folder";
    }
    return found;
}

TEST_F(AppModelAccountTest, SavedFilesLandAsNewFilesInsideTheDownloadsFolderWhateverTheirNames) {
    std::string cyrillic300(300, '\0');
    for (size_t i = 0; i < 300; i += 2) cyrillic300.replace(i, 2, "ж");
    std::string outside = dir_ / "home";
    test::writeFile(downloads() + "/инструкция.txt", "моя");
    test::writeFile(downloads() + "/x.txt", "1");
    test::writeFile(downloads() + "/x 2.txt", "2");
    test::writeFile(outside + "/secret.txt", "секрет");
    fs::create_symlink(outside + "/missing.txt", downloads() + "/ссылка.txt");
    fs::create_symlink(outside + "/secret.txt", downloads() + "/secret.txt");
    struct Case {
        OptionalText name;
        std::string saved; // "#" stands for the message id
    };
    std::string cut127;
    for (int i = 0; i < 127; ++i) cut127 += "ж"; // 254 bytes: a 128th letter would pass 255
    std::string cut125;
    for (int i = 0; i < 125; ++i) cut125 += "ж";
    std::vector<Case> cases = {
        {".", "file-#"},
        {"..", "file-#"},
        {std::nullopt, "file-#"},
        {"", "file-#"},
        {"../a/b:c", ".._a_b_c"},
        {"\x01rep\nort\x7f\u0085.txt", "report.txt"},
        {cyrillic300, cut127},
        {cyrillic300.substr(0, 296) + ".txt", cut125 + ".txt"},
        {"инструкция.txt", "инструкция 2.txt"},
        {"x.txt", "x 3.txt"},
        {"ссылка.txt", "ссылка 2.txt"},
        {"secret.txt", "secret 2.txt"},
    };
    link();
    auto m = model();
    auto before = snapshot(dir_.path(), downloads());
    size_t files = std::distance(fs::directory_iterator(downloads()), {});
    for (const Case& c : cases) {
        std::int64_t id = server_->addSupportFile(c.name, "содержимое " + c.saved);
        m->loadSupportMessages();
        ASSERT_TRUE(waitWithEvents(
            [&] { return !m->supportMessages().empty() && m->supportMessages().back().id == id; }));
        m->saveSupportFile(m->supportMessages().back());
        ASSERT_TRUE(idle(*m));
        std::string name = c.saved;
        if (size_t mark = name.find('#'); mark != std::string::npos)
            name.replace(mark, 1, std::to_string(id));
        SCOPED_TRACE(name);
        EXPECT_EQ(m->message(), std::nullopt);
        EXPECT_EQ(m->notice(), "Сохранено: " + name);
        EXPECT_EQ(desktop_.workspace->opened.back(), "reveal " + downloads() + "/" + name);
        EXPECT_EQ(test::readFile(downloads() + "/" + name), "содержимое " + c.saved);
        EXPECT_EQ(std::distance(fs::directory_iterator(downloads()), {}), static_cast<long>(++files));
    }
    EXPECT_EQ(snapshot(dir_.path(), downloads()), before);
    EXPECT_EQ(test::readFile(downloads() + "/инструкция.txt"), "моя");
    EXPECT_FALSE(fs::exists(outside + "/missing.txt"));

    // With every copy's name taken the save fails rather than replace one.
    std::vector<std::string> taken = {downloads() + "/y.txt"};
    for (int copy = 2; copy <= 99; ++copy)
        taken.push_back(downloads() + "/y " + std::to_string(copy) + ".txt");
    for (const std::string& path : taken) test::writeFile(path, "старое");
    std::int64_t id = server_->addSupportFile("y.txt", "новое");
    m->loadSupportMessages();
    ASSERT_TRUE(waitWithEvents([&] { return m->supportMessages().back().id == id; }));
    m->saveSupportFile(m->supportMessages().back());
    ASSERT_TRUE(idle(*m));
    EXPECT_TRUE(m->message().has_value());
    for (const std::string& path : taken) EXPECT_EQ(test::readFile(path), "старое");
}

TEST_F(AppModelAccountTest, DevicesHistoryAndPromoCodesFollowTheServer) {
    link();
    auto m = model();
    m->loadDevices();
    m->loadEvents();
    ASSERT_TRUE(waitWithEvents([&] { return m->devices().size() == 3 && m->events().size() == 4; }));
    EXPECT_EQ(requestsTo("/api/events").at(0).parameter("limit"), "50");
    const DeviceItem other = m->devices()[1];
    m->revokeDevice(other);
    ASSERT_TRUE(idle(*m));
    EXPECT_EQ(sent("/api/devices/revoke", true)["device_id"], other.id);
    ASSERT_TRUE(waitWithEvents([&] { return m->devices().size() == 2; }));

    m->revokeOtherDevices();
    ASSERT_TRUE(idle(*m));
    EXPECT_EQ(m->notice(), "Остальные устройства отключены");
    ASSERT_TRUE(waitWithEvents([&] { return m->devices().size() == 1 && m->devices()[0].current; }));

    struct Promo {
        const char* typed;
        const char* code;
        OptionalText answer; // the server's own confirmation when nothing
        const char* notice;
    };
    for (Promo p : {Promo{" orvex30\n", "ORVEX30", std::nullopt, "Промокод активирован: +30 дней"},
                    Promo{"gift", "GIFT", R"({"message":"Подарок 🎁 получен"})", "Подарок получен"}}) {
        server_->clearOverrides();
        if (p.answer) server_->setOverride("/api/promo/apply", {.body = *p.answer});
        server_->clearRequests();
        m->applyPromo(p.typed);
        ASSERT_TRUE(idle(*m));
        EXPECT_EQ(m->notice(), p.notice);
        EXPECT_EQ(sent("/api/promo/apply", true)["code"], p.code);
        ASSERT_TRUE(waitWithEvents(
            [&] { return requestsTo("/api/events").size() == 1 && requestsTo("/api/servers").size() == 1; }));
    }

    server_->clearRequests();
    m->revokeDevice(m->devices()[0]); // this device: signs out
    ASSERT_TRUE(idle(*m));
    EXPECT_FALSE(m->linked());
    EXPECT_FALSE(m->subscription().has_value());
    EXPECT_TRUE(m->servers().empty());
    ASSERT_TRUE(waitWithEvents([&] { return requestsTo("/api/logout").size() == 1; }));
    EXPECT_TRUE(requestsTo("/api/devices").empty());
}

TEST_F(AppModelAccountTest, AFailedLoadKeepsItsListAndSaysWhy) {
    struct Case {
        const char* path;
        std::function<void(AppModel&)> load;
        std::function<size_t(AppModel&)> count;
        const char* logLine;
    };
    std::vector<Case> cases = {
        {"/api/support/messages", [](AppModel& m) { m.loadSupportMessages(); },
         [](AppModel& m) { return m.supportMessages().size(); }, "переписка с поддержкой: "},
        {"/api/devices", [](AppModel& m) { m.loadDevices(); }, [](AppModel& m) { return m.devices().size(); },
         "устройства: "},
        {"/api/events", [](AppModel& m) { m.loadEvents(); }, [](AppModel& m) { return m.events().size(); },
         "события: "},
    };
    link();
    test::writeFile(dir_ / "logs/logging.on", "");
    auto m = model();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        server_->clearOverrides();
        c.load(*m);
        ASSERT_TRUE(waitWithEvents([&] { return c.count(*m) > 0; }));
        size_t shown = c.count(*m);
        server_->setOverride(c.path, {.status = 400, .body = R"({"detail":"Сбой учёта"})"});
        c.load(*m);
        ASSERT_TRUE(waitWithEvents([&] { return m->message().has_value(); }));
        EXPECT_EQ(m->message(), "Сбой учёта");
        EXPECT_EQ(c.count(*m), shown);
        m->log().flush();
        EXPECT_NE(test::readFile(m->log().filePath()).find(c.logLine + std::string("Сбой учёта")),
                  std::string::npos);
        m->run([] {}); // clears the message for the next case
        ASSERT_TRUE(idle(*m));
    }
}

} // namespace
} // namespace orvex

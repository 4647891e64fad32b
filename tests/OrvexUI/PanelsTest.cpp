// The server, settings, diagnostics, history, promo, support and devices panels offscreen,
// driven as a user would against the real model with a scripted service and the account-server
// fixture; and every one of them rendered with lifelike data for a person to look at.
#include "ServerPanel.h"

#include <QApplication>
#include <QDir>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QTest>

#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "APIServerFixture.h"
#include "AppModel.h"
#include "CooldownNotice.h"
#include "DevicesPanel.h"
#include "DiagnosticsPanel.h"
#include "HistoryPanel.h"
#include "LinkEmailCard.h"
#include "LinkTelegramCard.h"
#include "ModelFakes.h"
#include "Paths.h"
#include "PromoPanel.h"
#include "SettingsPanel.h"
#include "SupportPanel.h"
#include "Texts.h"
#include "Theme.h"
#include "Toggle.h"
#include "TokenStore.h"

// Readable failures: QString printed as text, not as its bytes.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace orvex {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using test::waitWithEvents;
using Make = std::function<QWidget*(AppModel&)>;

template <typename P> Make make() {
    return [](AppModel& model) { return new P(model); };
}

class Panels : public ::testing::Test, protected test::ScratchDesktop {
protected:
    static void SetUpTestSuite() { test::ensureWidgetApplication(Theme::styleSheet()); }

    Panels() {
        TokenStore::save(server_->token(), *desktop_.keychain);
        env_ = test::environment(dir_.path(), service_, server_->baseURL(), desktop_);
        env_.downloadsDir = [this] { return dir_ / "home/Downloads"; };
        fs::create_directories(dir_ / "home/Downloads");
    }

    // The model with the account loaded, and `panel` made on it and shown.
    void open(const Make& panel) {
        panel_.reset();
        model_ = std::make_unique<AppModel>(env_);
        model_->reload();
        ASSERT_TRUE(waitWithEvents([&] { return model_->subscription() && !model_->servers().empty(); }));
        panel_.reset(panel(*model_));
        panel_->resize(672, 900);
        panel_->show();
    }

    void answer(const std::string& path, const json& body) {
        server_->setOverride(path, {.body = body.dump()});
    }
    // Reloads the account and waits until the whole answer has landed (the cooldown comes last).
    void reloadAndWait() {
        bool landed = false;
        auto connection =
            QObject::connect(model_.get(), &AppModel::changeCooldownChanged, [&] { landed = true; });
        model_->reload();
        EXPECT_TRUE(waitWithEvents([&] { return landed; })) << model_->message().value_or("");
        QObject::disconnect(connection);
    }

    template <typename T> T* find(const QString& name) {
        T* widget = panel_->findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name.toStdString();
        return widget;
    }
    void click(const QString& name) { QTest::mouseClick(find<QAbstractButton>(name), Qt::LeftButton); }
    // Key by key, as a keyboard would type it; QTest's own typing knows only ASCII.
    void type(const QString& name, const QString& text) {
        QWidget* field = find<QWidget>(name);
        for (QChar letter : text) {
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(letter));
            QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(letter));
            QApplication::sendEvent(field, &press);
            QApplication::sendEvent(field, &release);
        }
    }
    void pressReturn(const QString& name) { QTest::keyClick(find<QWidget>(name), Qt::Key_Return); }

    // The one request to `path` once it has arrived and the action it belongs to has ended.
    std::optional<test::RecordedRequest> sent(const std::string& path) {
        std::optional<test::RecordedRequest> found;
        waitWithEvents([&] {
            for (const auto& request : server_->requests())
                if (request.path == path && request.method == "POST") found = request;
            return found && !model_->busy();
        });
        return found;
    }
    bool journalHas(const std::string& entry) {
        return waitWithEvents([&] {
            auto journal = service_->journal();
            return std::find(journal.begin(), journal.end(), entry) != journal.end();
        });
    }
    // The texts of the labels inside `widget`, sorted.
    static QStringList texts(QWidget* widget) {
        QStringList found;
        for (QLabel* label : widget->findChildren<QLabel*>())
            if (!label->text().isEmpty()) found << label->text();
        found.sort();
        return found;
    }
    static QStringList sorted(QStringList list) {
        list.sort();
        return list;
    }

    AppEnvironment env_;
    std::unique_ptr<AppModel> model_;
    std::unique_ptr<QWidget> panel_;
};

json serversWith(std::int64_t retryAfter, std::int64_t cooldown, std::vector<std::string> names) {
    json list = json::array();
    for (size_t i = 0; i < names.size(); ++i)
        list.push_back({{"id", i + 1},
                        {"name", names[i]},
                        {"host", "s" + std::to_string(i + 1) + ".test"},
                        {"port", 443}});
    return {{"servers", list}, {"change_retry_after", retryAfter}, {"change_cooldown", cooldown}};
}

json subscriptionWith(const json& fields = json::object()) {
    json subscription = {{"is_active", true},          {"days_left", 12},
                         {"traffic_used_gb", 3.5},     {"tariff_name", "Месяц"},
                         {"can_request_trial", false}, {"is_telegram_linked", true},
                         {"is_email_linked", false},   {"is_email_verified", false}};
    subscription.update(fields);
    return subscription;
}

TEST_F(Panels, PingLabelsShowNothingADashOrMilliseconds) {
    env_.ping = [](const std::string& host, int) {
        return host == "s1.test" ? -1 : host == "s2.test" ? 0 : 87;
    };
    answer("/api/servers", serversWith(0, 300, {"Нидерланды", "Германия", "Финляндия"}));
    open(make<ServerPanel>());
    click("measurePingsButton");
    ASSERT_TRUE(waitWithEvents([&] { return model_->pings().size() == 3; }));
    // A server the list gains afterwards has not been measured yet.
    answer("/api/servers", serversWith(0, 300, {"Нидерланды", "Германия", "Финляндия", "Швеция"}));
    reloadAndWait();

    const std::pair<const char*, const char*> cases[] = {
        {"serverPing1", "—"}, {"serverPing2", "0 мс"}, {"serverPing3", "87 мс"}, {"serverPing4", ""}};
    for (const auto& [name, text] : cases) EXPECT_EQ(find<QLabel>(name)->text().toStdString(), text) << name;
}

TEST_F(Panels, TheCooldownNoticeShowsOnlyWhileAChangeMustWait) {
    open(make<ServerPanel>());
    struct Case {
        std::int64_t left, total;
        bool shown;
        int passed; // of the bar's `total`
    };
    for (const Case& c : {Case{45, 120, true, 75}, Case{0, 120, false, 0}, Case{300, 120, true, 0}}) {
        answer("/api/servers", serversWith(c.left, c.total, {"Нидерланды"}));
        reloadAndWait();
        auto* notice = find<CooldownNotice>("cooldownNotice");
        EXPECT_EQ(notice->isVisible(), c.shown) << c.left;
        if (!c.shown) continue;
        EXPECT_EQ(notice->waitText().toStdString(), Texts::serverChangeWait(c.left));
        auto* bar = notice->findChild<QProgressBar*>();
        EXPECT_EQ(bar->value(), c.passed) << c.left;
        EXPECT_EQ(bar->maximum(), std::max(c.left, c.total)) << c.left;
    }
}

TEST_F(Panels, TheCheckMarkSitsOnTheServerInUseAndNowhereWithoutOne) {
    answer("/api/servers", serversWith(0, 300, {"Нидерланды", "Германия", "Финляндия"}));
    open(make<ServerPanel>());
    const std::pair<json, std::optional<int>> cases[] = {
        {subscriptionWith({{"server_name", "Германия"}}), 2},
        {subscriptionWith(), std::nullopt},
        {subscriptionWith({{"server_name", "Исландия"}}), std::nullopt},
    };
    for (const auto& [subscription, marked] : cases) {
        answer("/api/subscription", subscription);
        reloadAndWait();
        for (int id = 1; id <= 3; ++id)
            EXPECT_EQ(!find<QLabel>(QStringLiteral("serverCheck%1").arg(id))->pixmap().isNull(), marked == id)
                << subscription.dump() << " row " << id;
    }
}

TEST_F(Panels, ARowChangesToItsServerAndRowsWaitWhileAnActionRuns) {
    server_->setOverride("/api/server/change", {.body = R"({"message":"Сервер изменён"})",
                                                .delay = std::chrono::milliseconds(400)});
    open(make<ServerPanel>());
    auto rows = panel_->findChildren<QPushButton*>(QRegularExpression("^serverItem"));
    ASSERT_EQ(rows.size(), 3);
    QTest::mouseClick(rows[2], Qt::LeftButton);
    ASSERT_TRUE(model_->busy());
    for (QPushButton* row : rows) EXPECT_FALSE(row->isEnabled()) << row->objectName().toStdString();
    auto request = sent("/api/server/change");
    ASSERT_TRUE(request);
    EXPECT_EQ(json::parse(request->body)["server_id"], 3);
    for (QPushButton* row : rows) EXPECT_TRUE(row->isEnabled()) << row->objectName().toStdString();
}

TEST_F(Panels, FormsHandTheTypedTextToTheModelByButtonAndByReturn) {
    fs::path attachment = dir_ / "журнал.txt";
    test::writeFile(attachment, "строка\n");
    SupportPanel::chooseFile = [&](QWidget*) { return QString::fromStdString(attachment); };
    struct Case {
        Make panel;
        std::vector<std::pair<QString, QString>> typed; // field, text
        QString submit;                                 // a button, or a field to press Return in
        std::string path;
        std::function<std::string(const test::RecordedRequest&)> seen;
        std::string expected;
    };
    auto field = [](const char* key) {
        return [key](const test::RecordedRequest& r) { return json::parse(r.body)[key].get<std::string>(); };
    };
    std::vector<Case> cases = {
        {make<PromoPanel>(),
         {{"promoField", " orvex30 "}},
         "promoField",
         "/api/promo/apply",
         field("code"),
         "ORVEX30"},
        {make<PromoPanel>(),
         {{"promoField", "winter"}},
         "applyPromoButton",
         "/api/promo/apply",
         field("code"),
         "WINTER"},
        {make<LinkTelegramCard>(),
         {{"telegramCodeField", "tg-77"}},
         "telegramCodeField",
         "/api/link/telegram",
         field("code"),
         "TG-77"},
        {make<LinkTelegramCard>(),
         {{"telegramCodeField", "tg-78"}},
         "linkTelegramButton",
         "/api/link/telegram",
         field("code"),
         "TG-78"},
        {make<LinkEmailCard>(),
         {{"linkEmailField", "Me@Mail.test"}, {"linkPasswordField", "long-secret"}},
         "linkPasswordField",
         "/api/link/email",
         field("email"),
         "me@mail.test"},
        {make<LinkEmailCard>(),
         {{"linkEmailField", "me@mail.test"}, {"linkPasswordField", "long-secret"}},
         "linkEmailButton",
         "/api/link/email",
         field("password"),
         "long-secret"},
        {make<SupportPanel>(),
         {{"reportEdit", "Не открывается сайт банка"}},
         "sendReportButton",
         "/api/support/report",
         field("last_error"),
         "Не открывается сайт банка"},
        {make<SupportPanel>(),
         {{"replyField", "Спасибо, помогло"}},
         "replyField",
         "/api/support/messages",
         field("text"),
         "Спасибо, помогло"},
        {make<SupportPanel>(),
         {{"replyField", "Ещё вопрос"}},
         "sendReplyButton",
         "/api/support/messages",
         field("text"),
         "Ещё вопрос"},
        {make<SupportPanel>(),
         {},
         "attachButton",
         "/api/support/messages/file",
         [](const test::RecordedRequest& r) { return r.parameter("filename").value_or("") + " " + r.body; },
         "журнал.txt строка\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.submit.toStdString());
        server_->clearRequests();
        open(c.panel);
        for (const auto& [name, text] : c.typed) type(name, text);
        if (qobject_cast<QAbstractButton*>(find<QWidget>(c.submit)) != nullptr)
            click(c.submit);
        else
            pressReturn(c.submit);
        auto request = sent(c.path);
        ASSERT_TRUE(request);
        EXPECT_EQ(c.seen(*request), c.expected);
    }
}

TEST_F(Panels, TextThatWentThroughIsClearedAndRefusedTextStaysForCorrection) {
    open(make<PromoPanel>());
    auto* field = find<QLineEdit>("promoField");
    type("promoField", "orvex30");
    pressReturn("promoField");
    ASSERT_TRUE(sent("/api/promo/apply"));
    EXPECT_EQ(field->text(), "") << "accepted";
    type("promoField", "orvex30");
    pressReturn("promoField");
    ASSERT_TRUE(waitWithEvents([&] { return model_->message().has_value() && !model_->busy(); }));
    EXPECT_EQ(*model_->message(), "Промокод уже использован");
    EXPECT_EQ(field->text(), "orvex30") << "refused";
}

TEST_F(Panels, SwitchesAndToolButtonsCallTheirOperations) {
    std::vector<bool> autostart;
    env_.setAutostart = [&](bool on) {
        autostart.push_back(on);
        return std::nullopt;
    };
    struct Case {
        Make panel;
        QString control;
        std::function<bool()> called;
    };
    std::vector<Case> cases = {
        {make<SettingsPanel>(), "adBlockToggle", [&] { return journalHas("ad block off"); }},
        {make<SettingsPanel>(), "killSwitchToggle", [&] { return journalHas("kill switch on"); }},
        {make<SettingsPanel>(), "autostartToggle",
         [&] { return waitWithEvents([&] { return autostart == std::vector<bool>{true}; }); }},
        {make<DiagnosticsPanel>(), "checkExitIPButton", [&] { return journalHas("check internet"); }},
        {make<DiagnosticsPanel>(), "loggingToggle", [&] { return journalHas("logging on"); }},
        {make<DiagnosticsPanel>(), "revealLogButton",
         [&] { return desktop_.workspace->opened.back() == "reveal " + model_->log().filePath(); }},
    };
    for (const Case& c : cases) {
        open(c.panel);
        click(c.control);
        EXPECT_TRUE(c.called()) << c.control.toStdString();
    }
}

TEST_F(Panels, TheLogFolderNamedIsThatOfThePlatformTheProgramRunsOn) {
    const std::pair<const char*, const char*> cases[] = {{"macos", "/Library/Logs/ORVEX"},
                                                         {"linux", "/var/log/orvex"}};
    for (const auto& [platform, folder] : cases) {
        test::ScopedEnv personality("ORVEX_PLATFORM", platform);
        ASSERT_TRUE(Paths::daemonLogDir().ends_with(folder)) << platform;
        open(make<DiagnosticsPanel>());
        EXPECT_TRUE(texts(find<QWidget>("logFilesRow"))
                        .contains(QStringLiteral("Лог приложения — в вашей папке, лог службы — в ") +
                                  QString::fromStdString(Paths::daemonLogDir())))
            << platform;
    }
}

TEST_F(Panels, SettingsOfferOnlyTheWaysIntoTheAccountNotLinkedYet) {
    struct Case {
        json flags;
        std::vector<const char*> shown;
    };
    const char* cards[] = {"telegramLinkedCard", "linkTelegramCard", "emailVerifiedCard",
                           "emailUnverifiedCard", "linkEmailCard"};
    std::vector<Case> cases = {
        {{{"is_telegram_linked", true}, {"is_email_linked", true}, {"is_email_verified", true}},
         {"telegramLinkedCard", "emailVerifiedCard"}},
        {{{"is_telegram_linked", true}, {"is_email_linked", true}, {"is_email_verified", false}},
         {"telegramLinkedCard", "emailUnverifiedCard"}},
        {{{"is_telegram_linked", false}, {"is_email_linked", false}}, {"linkTelegramCard", "linkEmailCard"}},
    };
    open(make<SettingsPanel>());
    for (const Case& c : cases) {
        answer("/api/subscription", subscriptionWith(c.flags));
        reloadAndWait();
        for (const char* card : cards)
            EXPECT_EQ(find<QWidget>(card)->isVisible(),
                      std::ranges::any_of(c.shown,
                                          [&](const char* name) { return std::string_view(name) == card; }))
                << c.flags.dump() << " " << card;
    }

    // The service's card follows whether its job is installed.
    EXPECT_TRUE(find<QWidget>("serviceAbsentCard")->isVisible());
    test::writeFile(Paths::daemonPlist(), "job");
    open(make<SettingsPanel>());
    EXPECT_TRUE(find<QWidget>("serviceInstalledCard")->isVisible());
    EXPECT_FALSE(find<QWidget>("serviceAbsentCard")->isVisible());
}

TEST_F(Panels, TheReportNoteSaysWhetherLogsGoAlong) {
    open(make<SupportPanel>());
    auto* note = find<QLabel>("logsNote");
    EXPECT_EQ(note->text(),
              "Логи выключены — уйдёт только текст обращения. Включите запись логов в «Диагностике», "
              "если проблему нужно разобрать.");
    model_->setLogging(true);
    EXPECT_EQ(
        note->text(),
        "К обращению приложатся последние строки логов приложения и службы. Токена и конфига в них нет.");
}

TEST_F(Panels, HistoryListsEventsNewestFirstAndSaysWhenThereAreNone) {
    open(make<HistoryPanel>());
    model_->loadEvents();
    ASSERT_TRUE(waitWithEvents([&] { return model_->events().size() == 4; }));
    auto rows = panel_->findChildren<QWidget*>("eventRow");
    ASSERT_EQ(rows.size(), 4);
    EXPECT_EQ(texts(rows[0]), sorted({"Промокод активирован", "WINTER",
                                      QString::fromStdString(Texts::stamp("2025-03-02T08:00:00Z"))}));
    EXPECT_TRUE(texts(rows[3]).contains("Подписка активирована"));

    answer("/api/events", {{"events", json::array()}});
    click("reloadEventsButton");
    ASSERT_TRUE(waitWithEvents([&] { return model_->events().empty(); }));
    EXPECT_EQ(find<QLabel>("eventsEmpty")->text(), "Событий пока нет");
    EXPECT_TRUE(panel_->findChildren<QWidget*>("eventRow").isEmpty());
}

TEST_F(Panels, DevicesOtherThanThisOneCanBeRevokedOneByOneOrAllAtOnce) {
    open(make<DevicesPanel>());
    model_->loadDevices();
    ASSERT_TRUE(waitWithEvents([&] { return model_->devices().size() == 3; }));
    DeviceItem current = model_->devices()[0];
    DeviceItem phone = model_->devices()[1];
    ASSERT_TRUE(current.current);
    EXPECT_EQ(panel_->findChildren<QLabel*>("currentDeviceChip").size(), 1);
    EXPECT_EQ(texts(find<QWidget>(QStringLiteral("deviceRow%1").arg(current.id))),
              sorted({"MacBook Pro", "это устройство",
                      QString::fromStdString("macOS · активность " + Texts::stamp("2025-03-04T18:00:00Z"))}));
    EXPECT_EQ(panel_->findChild<QPushButton*>(QStringLiteral("revokeDevice%1").arg(current.id)), nullptr);

    click(QStringLiteral("revokeDevice%1").arg(phone.id));
    auto revoked = sent("/api/devices/revoke");
    ASSERT_TRUE(revoked);
    EXPECT_EQ(json::parse(revoked->body)["device_id"], phone.id);
    ASSERT_TRUE(waitWithEvents(
        [&] { return panel_->findChildren<QPushButton*>(QRegularExpression("^revokeDevice")).size() == 1; }));

    click("revokeOthersButton");
    ASSERT_TRUE(sent("/api/devices/revoke-others"));
    ASSERT_TRUE(waitWithEvents(
        [&] { return panel_->findChildren<QWidget*>(QRegularExpression("^deviceRow")).size() == 1; }));

    answer("/api/devices", {{"devices", json::array()}});
    click("reloadDevicesButton");
    ASSERT_TRUE(waitWithEvents([&] { return model_->devices().empty(); }));
    EXPECT_EQ(find<QLabel>("devicesEmpty")->text(), "Список пуст");
}

TEST_F(Panels, TheConversationShowsWhoWroteWhenAndSavesWhatSupportSent) {
    open(make<SupportPanel>());
    EXPECT_EQ(find<QLabel>("messagesEmpty")->text(), "Сообщений пока нет");
    model_->loadSupportMessages();
    ASSERT_TRUE(waitWithEvents([&] { return model_->supportMessages().size() == 3; }));
    SupportMessageList messages = model_->supportMessages();
    auto bubble = [&](size_t index) {
        return find<QFrame>(QStringLiteral("message%1").arg(messages[index].id));
    };
    QString when = QString::fromStdString(Texts::stamp("2025-03-01T09:12:00Z"));
    EXPECT_EQ(texts(bubble(1)), sorted({"Вы", when, "Не подключается сервер в Германии."}));
    EXPECT_TRUE(texts(bubble(2)).contains("Поддержка"));
    EXPECT_TRUE(texts(bubble(2)).contains("вложение: инструкция.txt"));
    // The user's words lean right, support's left.
    EXPECT_GT(bubble(1)->mapTo(panel_.get(), QPoint()).x(), bubble(0)->mapTo(panel_.get(), QPoint()).x());

    // Tab reaches the file's button between the refresh button and the reply field.
    auto* save = find<QPushButton>(QStringLiteral("saveFile%1").arg(messages[2].id));
    auto nextStop = [](QWidget* from) {
        QWidget* next = from->nextInFocusChain();
        while (!(next->focusPolicy() & Qt::TabFocus) || !next->isVisible()) next = next->nextInFocusChain();
        return next;
    };
    EXPECT_EQ(nextStop(find<QWidget>("reloadMessagesButton")), save);
    EXPECT_EQ(nextStop(save), find<QWidget>("replyField"));

    QTest::mouseClick(save, Qt::LeftButton);
    fs::path saved = dir_ / "home/Downloads/инструкция.txt";
    ASSERT_TRUE(waitWithEvents([&] { return fs::exists(saved) && !model_->busy(); }));
    EXPECT_EQ(test::readFile(saved), "1. Откройте ORVEX.\n2. Выберите другой сервер.\n");
}

TEST_F(Panels, EveryControlHasANameAndTakesFocusFromTheKeyboard) {
    for (const Make& panel :
         {make<ServerPanel>(), make<SettingsPanel>(), make<DiagnosticsPanel>(), make<HistoryPanel>(),
          make<PromoPanel>(), make<SupportPanel>(), make<DevicesPanel>()}) {
        open(panel);
        model_->loadSupportMessages();
        model_->loadDevices();
        waitWithEvents(
            [&] { return model_->devices().size() == 3 && model_->supportMessages().size() == 3; });
        QApplication::processEvents();
        for (QWidget* control : panel_->findChildren<QWidget*>()) {
            bool isControl = qobject_cast<QAbstractButton*>(control) || qobject_cast<QLineEdit*>(control) ||
                             qobject_cast<QPlainTextEdit*>(control);
            if (!isControl || !control->isVisible()) continue;
            std::string where =
                panel_->objectName().toStdString() + " " + control->objectName().toStdString();
            EXPECT_FALSE(control->objectName().isEmpty()) << where;
            EXPECT_TRUE(control->focusPolicy() & Qt::TabFocus) << where;
            auto* button = qobject_cast<QAbstractButton*>(control);
            EXPECT_FALSE(control->accessibleName().isEmpty() &&
                         (button == nullptr || button->text().isEmpty()))
                << where;
        }
    }
}

// Not a check: every panel with lifelike data, in the window's default size and in full, as PNG
// files for a person to look at (ORVEX_SHOTS_DIR, else ./screens).
class Screens : public Panels {};

TEST_F(Screens, RenderEveryPanelForReview) {
    QString folder = qEnvironmentVariableIsSet("ORVEX_SHOTS_DIR") ? qEnvironmentVariable("ORVEX_SHOTS_DIR")
                                                                  : QDir::currentPath() + "/screens";
    QDir().mkpath(folder);
    answer("/api/servers",
           serversWith(45, 120,
                       {"Нидерланды — Амстердам", "Германия — Франкфурт", "Финляндия — Хельсинки",
                        "Швеция — Стокгольм", "Польша — Варшава", "Казахстан — Алматы"}));
    json messages = json::array();
    const char* lines[][2] = {
        {"user", "Здравствуйте! После обновления macOS не подключается VPN: крутится «Подключение…» и всё."},
        {"support",
         "Добрый день! Пришлите, пожалуйста, лог — кнопка «Отправить» в этом окне приложит его сама."},
        {"user",
         "Отправил. Ещё заметил, что через мобильный интернет всё работает, а через домашний Wi-Fi нет."},
        {"support",
         "Спасибо, лог получили. Похоже, роутер режет порт 443 для UDP. Попробуйте сервер в Финляндии."},
        {"user", "С Финляндией работает, спасибо!"},
        {"support", "Рады помочь. Вот инструкция, как настроить роутер, чтобы работали все серверы."},
    };
    for (size_t i = 0; i < std::size(lines); ++i) {
        json item = {
            {"id", 100 + i},
            {"direction", lines[i][0]},
            {"text", lines[i][1]},
            {"created_at", "2025-03-0" + std::to_string(1 + i / 2) + "T1" + std::to_string(i) + ":05:00Z"}};
        messages.push_back(item);
    }
    messages.push_back({{"id", 120},
                        {"direction", "support"},
                        {"file_kind", "document"},
                        {"file_name", "Настройка роутера.pdf"},
                        {"created_at", "2025-03-04T09:30:00Z"}});
    answer("/api/support/messages", {{"messages", messages}});
    json devices = json::array();
    const char* owned[][3] = {{"MacBook Air Марии", "macos", "2025-03-05T08:10:00Z"},
                              {"Pixel 8", "android", "2025-03-04T21:45:00Z"},
                              {"iPhone 15", "ios", "2025-03-03T12:00:00Z"},
                              {"Рабочий ноутбук", "windows", "2025-02-27T17:20:00Z"}};
    for (size_t i = 0; i < std::size(owned); ++i)
        devices.push_back({{"id", 10 + i},
                           {"label", owned[i][0]},
                           {"platform", owned[i][1]},
                           {"current", i == 0},
                           {"device_model", ""},
                           {"system_version", ""},
                           {"app_version", "1.4.0"},
                           {"created_at", "2025-02-01T10:00:00Z"},
                           {"last_used_at", owned[i][2]}});
    answer("/api/devices", {{"devices", devices}});
    test::writeFile(Paths::daemonPlist(), "job");
    service_->script([](auto& s) {
        s.current.exitIP = "185.104.12.7";
        s.current.killSwitchEnabled = true;
    });
    env_.ping = [](const std::string& host, int) {
        return host == "s6.test" ? -1 : 30 + 9 * (host[1] - '0');
    };

    struct Shot {
        const char* name;
        Make panel;
        json account = {{"is_email_linked", true}};
    };
    const Shot shots[] = {{"server", make<ServerPanel>()},
                          {"settings", make<SettingsPanel>()},
                          {"settings-unlinked", make<SettingsPanel>(), {{"is_telegram_linked", false}}},
                          {"diagnostics", make<DiagnosticsPanel>()},
                          {"history", make<HistoryPanel>()},
                          {"promo", make<PromoPanel>()},
                          {"support", make<SupportPanel>()},
                          {"devices", make<DevicesPanel>()}};
    for (const Shot& shot : shots) {
        json account = shot.account;
        account["server_name"] = "Германия — Франкфурт";
        answer("/api/subscription", subscriptionWith(account));
        model_ = std::make_unique<AppModel>(env_);
        model_->reload();
        model_->refreshStatus();
        model_->loadEvents();
        model_->loadDevices();
        model_->loadSupportMessages();
        ASSERT_TRUE(waitWithEvents([&] {
            return !model_->servers().empty() && !model_->events().empty() && !model_->devices().empty() &&
                   !model_->supportMessages().empty() && !model_->status().exitIP.empty();
        })) << model_->message().value_or("");
        model_->measurePings();
        waitWithEvents([&] { return model_->pings().size() == 6; });

        // The window as the main screen lays it out: the sidebar's width, then the panel
        // scrolled with the main screen's margins.
        QWidget window;
        window.setObjectName("root");
        window.resize(960, 620);
        auto* row = new QHBoxLayout(&window);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(0);
        auto* sidebar = new QFrame;
        sidebar->setProperty("role", "sidebar");
        sidebar->setFixedWidth(224);
        row->addWidget(sidebar);
        auto* page = new QWidget;
        page->setProperty("role", "page");
        auto* margins = new QVBoxLayout(page);
        margins->setContentsMargins(32, 24, 32, 32);
        QWidget* panel = shot.panel(*model_);
        margins->addWidget(panel);
        auto* area = new QScrollArea;
        area->setWidgetResizable(true);
        area->setWidget(page);
        row->addWidget(area);
        window.show();
        QApplication::processEvents();
        EXPECT_TRUE(window.grab().save(folder + "/" + shot.name + ".png")) << shot.name;

        window.resize(960, 620 + page->sizeHint().height() - area->viewport()->height());
        QApplication::processEvents();
        EXPECT_TRUE(window.grab().save(folder + "/" + shot.name + "-full.png")) << shot.name;
    }
}

} // namespace
} // namespace orvex

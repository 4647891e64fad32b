// Every screen driven as a user would against the real model, and rendered for a person to see.
#include "RootView.h"

#include <QApplication>
#include <QDir>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <set>

#include "ConnectButton.h"
#include "CooldownNotice.h"
#include "DevicesPanel.h"
#include "DiagnosticsPanel.h"
#include "LinkEmailCard.h"
#include "LinkTelegramCard.h"
#include "LinkView.h"
#include "MainView.h"
#include "ModelFakes.h"
#include "PromoPanel.h"
#include "ScreenTexts.h"
#include "ServerPanel.h"
#include "SettingsPanel.h"
#include "SupportPanel.h"
#include "SystemInfo.h"
#include "Texts.h"
#include "UpdateDialog.h"
#include "UpdateMirrors.h"

// Readable failures: QString printed as text, not as its bytes.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace orvex {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using test::statusIn;
using test::waitWithEvents;
using Make = std::function<QWidget*(AppModel&)>;

template <typename P> Make make() {
    return [](AppModel& model) { return new P(model); };
}

class Screens : public ::testing::Test, protected test::ScratchDesktop {
protected:
    // A fresh model, signed in with the account loaded when `linked`, and the widget `make`
    // builds on it, shown at `size`.
    void open(const Make& make, bool linked = true, QSize size = QSize(672, 900)) {
        panel_.reset();
        if (linked) link();
        model_ = model();
        panel_.reset(make(*model_));
        panel_->resize(size);
        panel_->show();
        if (linked && !qobject_cast<RootView*>(panel_.get())) model_->reload(); // a window reloads itself
        ASSERT_TRUE(waitWithEvents(
            [&] { return !linked || (model_->subscription() && !model_->servers().empty()); }));
    }
    // The whole window, with the service installed.
    void openRoot(bool linked) {
        installJob();
        open(make<RootView>(), linked, QSize(960, 620));
    }
    RootView* view() { return static_cast<RootView*>(panel_.get()); }

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
    // As a user would: once the window has laid itself out.
    void click(const QString& name) {
        QCoreApplication::processEvents();
        QTest::mouseClick(find<QAbstractButton>(name), Qt::LeftButton);
    }
    // Key by key into an emptied field, as a keyboard would type it; QTest's own typing knows
    // only ASCII.
    void type(const QString& name, const QString& text) {
        if (auto* line = qobject_cast<QLineEdit*>(find<QWidget>(name))) line->clear();
        for (QChar letter : text)
            for (QEvent::Type kind : {QEvent::KeyPress, QEvent::KeyRelease}) {
                QKeyEvent event(kind, 0, Qt::NoModifier, QString(letter));
                QApplication::sendEvent(find<QWidget>(name), &event);
            }
    }
    void pressReturn(const QString& name) { QTest::keyClick(find<QWidget>(name), Qt::Key_Return); }

    // The one POST to `path` once it has arrived and the action it belongs to has ended.
    std::optional<test::RecordedRequest> sent(const std::string& path) {
        std::optional<test::RecordedRequest> found;
        waitWithEvents([&] {
            for (const auto& request : requestsTo(path))
                if (request.method == "POST") found = request;
            return found && !model_->busy();
        });
        return found;
    }
    bool journalHas(const std::string& entry) {
        return waitWithEvents([&] { return std::ranges::count(service_->journal(), entry) > 0; });
    }
    // The texts of the labels inside `widget`, sorted.
    static QStringList texts(QWidget* widget) {
        QStringList found;
        for (QLabel* label : widget->findChildren<QLabel*>())
            if (!label->text().isEmpty()) found << label->text();
        found.sort();
        return found;
    }

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

TEST(ScreenTexts, DaysReadAsNaturalRussian) {
    const std::pair<int, const char*> cases[] = {{1, "1 день"},   {2, "2 дня"},      {5, "5 дней"},
                                                 {11, "11 дней"}, {14, "14 дней"},   {21, "21 день"},
                                                 {22, "22 дня"},  {111, "111 дней"}, {101, "101 день"}};
    for (const auto& [count, text] : cases) EXPECT_EQ(ScreenTexts::days(count), text) << count;
    EXPECT_EQ(ScreenTexts::traffic(3, std::nullopt), "3.0 ГБ");
}

TEST_F(Screens, SigningInShowsTheMainViewAndSigningOutTheCodeForm) {
    openRoot(false);
    auto* link = view()->linkView();
    ASSERT_TRUE(link->isVisible());
    click("toEmailButton");
    type("emailField", test::AccountServer::email);
    click("toResetButton");
    EXPECT_EQ(find<QLineEdit>("resetEmailField")->text(), test::AccountServer::email)
        << "the address carries over";
    click("backToEmailButton");
    type("passwordField", test::AccountServer::password);
    pressReturn("passwordField");
    ASSERT_TRUE(waitWithEvents([&] { return model_->linked(); }));
    EXPECT_TRUE(view()->mainView()->isVisible());
    EXPECT_EQ(view()->mainView()->panel(), MainView::Panel::home);

    // Signing out returns to the code form, where a code from a link lands in the field.
    click("unlinkButton");
    ASSERT_TRUE(waitWithEvents([&] { return link->isVisible(); }));
    model_->handleDeepLinkCode("246810");
    EXPECT_EQ(find<QLineEdit>("codeField")->text(), "246810");
    click("codeSignInButton");
    EXPECT_TRUE(waitWithEvents([&] { return model_->linked(); }));
}

TEST_F(Screens, TheHomePanelFollowsTheTunnel) {
    openRoot(true);
    // The status line, and the button's caption and subtitle.
    for (const auto& [status, shown] :
         {std::pair{statusIn(TunnelState::disconnected), "Не подключено/Подключиться/Трафик не зашифрован"},
          {statusIn(TunnelState::connecting), "Подключение…/Подключение…/Поднимаем туннель"},
          {statusIn(TunnelState::connected), "Защищено/Отключиться/Трафик зашифрован"},
          {statusIn(TunnelState::error), "Ошибка подключения/Подключиться/Трафик не зашифрован"},
          {statusIn(TunnelState::error, true), "Трафик заблокирован/Подключиться/Трафик не зашифрован"}}) {
        service_->script([&](auto& s) { s.current = status; });
        model_->refreshStatus();
        ASSERT_TRUE(waitWithEvents([&] { return model_->status() == status; }));
        auto* button = find<ConnectButton>("connectButton");
        EXPECT_EQ(find<QLabel>("statusLine")->text() + "/" + button->caption() + "/" + button->subtitle(),
                  shown);
        EXPECT_EQ(find<QWidget>("killSwitchBlock")->isVisible(), status.killSwitchHold);
    }
    EXPECT_EQ(find<QLabel>("daysLeft")->text(), "23 дня");
    EXPECT_EQ(find<QLabel>("traffic")->text(), "12.5 из 200 ГБ");

    // "Снять блокировку" disconnects, which lifts the hold; the kill switch itself stays on.
    click("unblockButton");
    ASSERT_TRUE(waitWithEvents([&] { return !model_->busy() && !model_->status().killSwitchHold; }));
    EXPECT_EQ(service_->journal(), std::vector<std::string>{"disconnect"});
}

TEST_F(Screens, ListsLoadEachTimeTheirPanelIsShown) {
    openRoot(true);
    server_->clearRequests();
    for (const char* row : {"historyRow", "devicesRow", "supportRow", "homeRow", "historyRow"}) click(row);
    auto loads = [&](const std::string& path) { return requestsTo(path).size(); };
    EXPECT_TRUE(waitWithEvents([&] {
        return loads("/api/events") == 2 && loads("/api/devices") == 1 && loads("/api/support/messages") == 1;
    }));
    EXPECT_EQ(view()->mainView()->panel(), MainView::Panel::history);
}

TEST_F(Screens, TheUpdateDialogOffersTheVersionAndStaysClosedOnceDismissed) {
    test::UpdateMirrors mirrors(dir_.path());
    mirrors.first().setManifest(test::UpdateMirrors::manifest("9.1.0", "https://x/ORVEX-9.1.0.dmg"));
    openRoot(true);
    auto* dialog = view()->updateDialog();
    ASSERT_TRUE(waitWithEvents([&] { return dialog->isVisible(); }));
    EXPECT_EQ(dialog->windowTitle(), "Вышло обновление");
    QTest::mouseClick(dialog->findChild<QPushButton*>("dismissUpdateButton"), Qt::LeftButton);
    model_->checkUpdateSilently();
    EXPECT_FALSE(waitWithEvents([&] { return dialog->isVisible(); }, std::chrono::milliseconds(500)));
}

TEST_F(Screens, TheServerPanelShowsPingsTheServerInUseAndTheCooldownWhileAChangeMustWait) {
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
    for (auto [id, text] : {std::pair{1, "—"}, {2, "0 мс"}, {3, "87 мс"}, {4, ""}})
        EXPECT_EQ(find<QLabel>(QStringLiteral("serverPing%1").arg(id))->text().toStdString(), text) << id;

    for (auto [inUse, marked] : {std::pair{"Германия", 2}, {"", 0}, {"Исландия", 0}}) {
        answer("/api/subscription", subscriptionWith(*inUse ? json{{"server_name", inUse}} : json::object()));
        reloadAndWait();
        for (int id = 1; id <= 4; ++id)
            EXPECT_EQ(!find<QLabel>(QStringLiteral("serverCheck%1").arg(id))->pixmap().isNull(), marked == id)
                << inUse << " row " << id;
    }

    // The cooldown notice: seconds left, the cooldown, and how much of the bar has passed (-1: hidden).
    for (auto [left, total, passed] : {std::tuple{45, 120, 75}, {0, 120, -1}, {300, 120, 0}}) {
        answer("/api/servers", serversWith(left, total, {"Нидерланды"}));
        reloadAndWait();
        auto* notice = find<CooldownNotice>("cooldownNotice");
        EXPECT_EQ(notice->isVisible(), passed >= 0) << left;
        if (passed < 0) continue;
        EXPECT_EQ(notice->waitText().toStdString(), Texts::serverChangeWait(left));
        auto* bar = notice->findChild<QProgressBar*>();
        EXPECT_EQ(bar->value(), passed) << left;
        EXPECT_EQ(bar->maximum(), std::max(left, total)) << left;
    }
}

TEST_F(Screens, ARowChangesToItsServerAndRowsWaitWhileAnActionRuns) {
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

// Each form sends its cleaned text by button and by Return, signed in or not as its request needs;
// a panel's form clears what went through and keeps what was refused for correction.
TEST_F(Screens, FormsSendTheirCleanedTextAndShowTheAnswer) {
    test::writeFile(dir_ / "журнал.txt", "строка\n");
    SupportPanel::chooseFile = [&](QWidget*) { return QString::fromStdString(dir_ / "журнал.txt"); };
    struct Case {
        Make panel;
        QString steps;          // ";"-separated: "field:text" typed, "field!" Return in it, else a click
        std::string path, sent; // the POST, and fields of its body (or the upload's name and bytes)
        std::string answer;     // the notice, or the message of a refusal
    };
    const Make link = make<LinkView>(), promo = make<PromoPanel>(), telegram = make<LinkTelegramCard>(),
               email = make<LinkEmailCard>(), support = make<SupportPanel>();
    const Case cases[] = {
        {link, "codeField: 246810 ;codeField!", "/api/auth", R"({"code":"246810"})", ""},
        {link, "toEmailButton;emailField: Demo@ORVEX.test ;passwordField:demo-password;passwordField!",
         "/api/login", R"({"email":"demo@orvex.test","password":"demo-password"})", ""},
        {link, "toEmailButton;emailField: New@Orvex.Test ;passwordField: pw ;registerButton", "/api/register",
         R"({"email":"new@orvex.test","password":" pw "})",
         "Письмо для подтверждения отправлено на new@orvex.test"},
        {link, "toEmailButton;toResetButton;resetEmailField: DEMO@orvex.test;resetEmailField!",
         "/api/password/forgot", R"({"email":"demo@orvex.test"})",
         "Код для сброса пароля отправлен на почту"},
        {link,
         "toEmailButton;toResetButton;resetCodeField: reset-7 ;newPasswordField:new-pass;resetPasswordButton",
         "/api/password/reset", R"({"token":"RESET-7","new_password":"new-pass"})", "Пароль изменён"},
        {promo, "promoField: orvex30 ;promoField!", "/api/promo/apply", R"({"code":"ORVEX30"})",
         "Промокод активирован: +30 дней"},
        {promo, "promoField:nope;applyPromoButton", "/api/promo/apply", R"({"code":"NOPE"})",
         "Промокод не найден"},
        {telegram, "telegramCodeField: 246810 ;telegramCodeField!", "/api/link/telegram",
         R"({"code":"246810"})", "Telegram привязан"},
        {telegram, "telegramCodeField:tg-78;linkTelegramButton", "/api/link/telegram", R"({"code":"TG-78"})",
         "Неверный или устаревший код"},
        {email, "linkEmailField:Me@Mail.test;linkPasswordField:long-secret;linkPasswordField!",
         "/api/link/email", R"({"email":"me@mail.test","password":"long-secret"})", "Почта привязана"},
        {email, "linkEmailField:me@mail.test;linkPasswordField:long-secret;linkEmailButton",
         "/api/link/email", R"({"email":"me@mail.test"})", "Почта привязана"},
        {support, "reportEdit:Не открывается сайт банка;sendReportButton", "/api/support/report",
         R"({"last_error":"Не открывается сайт банка"})", "Обращение отправлено. Ответ придёт сюда и в бот."},
        {support, "replyField:Спасибо, помогло;replyField!", "/api/support/messages",
         R"({"text":"Спасибо, помогло"})", ""},
        {support, "replyField:Ещё вопрос;sendReplyButton", "/api/support/messages",
         R"({"text":"Ещё вопрос"})", ""},
        {support, "attachButton", "/api/support/messages/file", "журнал.txt строка\n", ""},
    };
    const std::set<std::string> signInFamily = {"/api/auth", "/api/login", "/api/register",
                                                "/api/password/forgot", "/api/password/reset"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.steps.toStdString());
        bool linked = !signInFamily.contains(c.path);
        bool signsIn = c.path == "/api/auth" || c.path == "/api/login" || c.path == "/api/link/telegram";
        TokenStore::clear(*keychain_);
        server_->clearRequests();
        open(c.panel, linked);
        for (const QString& step : c.steps.split(';')) {
            if (step.contains(':'))
                type(step.section(':', 0, 0), step.section(':', 1));
            else if (step.endsWith('!'))
                pressReturn(step.chopped(1));
            else
                click(step);
        }
        auto request = sent(c.path);
        ASSERT_TRUE(request);
        EXPECT_EQ(request->hasHeader("Authorization"), linked);
        if (c.sent.starts_with('{')) {
            json body = json::parse(request->body), expected = json::parse(c.sent);
            for (const auto& [key, value] : expected.items()) EXPECT_EQ(body[key], value) << key;
            EXPECT_EQ(body.value("device_label", ""), signsIn ? SystemInfo::hostName() : "");
        } else {
            EXPECT_EQ(request->parameter("filename").value_or("") + " " + request->body, c.sent);
        }
        EXPECT_EQ(model_->message().value_or(model_->notice().value_or("")), c.answer);
        EXPECT_EQ(TokenStore::load(*keychain_).has_value(), linked || signsIn);
        EXPECT_TRUE(!signsIn || waitWithEvents([&] { return model_->subscription().has_value(); }))
            << "reloads";
        for (const QString& step : c.steps.split(';')) {
            auto* line = qobject_cast<QLineEdit*>(panel_->findChild<QWidget*>(step.section(':', 0, 0)));
            QString kept = model_->message() ? step.section(':', 1) : QString();
            EXPECT_TRUE(!linked || !line || waitWithEvents([&] { return line->text() == kept; }))
                << step.toStdString();
        }
    }
}

// A logging switch the service misses still switches the application's log.
TEST_F(Screens, SwitchesAndToolButtonsCallTheirOperations) {
    std::vector<bool> autostart;
    env_.setAutostart = [&](bool on) { return autostart.push_back(on), std::nullopt; };
    service_->script([](auto& s) { s.failLogging = true; });
    const std::tuple<Make, QString, std::function<bool()>> cases[] = {
        {make<SettingsPanel>(), "adBlockToggle", [&] { return journalHas("ad block off"); }},
        {make<SettingsPanel>(), "killSwitchToggle", [&] { return journalHas("kill switch on"); }},
        {make<SettingsPanel>(), "autostartToggle", [&] { return autostart == std::vector<bool>{true}; }},
        {make<DiagnosticsPanel>(), "checkExitIPButton", [&] { return journalHas("check internet"); }},
        {make<DiagnosticsPanel>(), "loggingToggle",
         [&] {
             return journalHas("logging on") && model_->log().isEnabled() &&
                    model_->message().value_or("").starts_with(
                        "Логи приложения переключены, но служба не ответила: ");
         }},
        {make<DiagnosticsPanel>(), "revealLogButton",
         [&] { return workspace_->opened.back() == "reveal " + model_->log().filePath(); }},
    };
    for (const auto& [panel, control, called] : cases) {
        open(panel);
        click(control);
        EXPECT_TRUE(waitWithEvents(called)) << control.toStdString();
    }
}

// And the service's card follows whether its job is installed.
TEST_F(Screens, SettingsOfferOnlyTheWaysIntoTheAccountNotLinkedYet) {
    auto cards = [&] {
        QStringList visible;
        for (QWidget* card : panel_->findChildren<QWidget*>(QRegularExpression("Card$")))
            if (card->isVisible()) visible << card->objectName();
        return visible.join(" ").toStdString();
    };
    open(make<SettingsPanel>());
    // Telegram linked, e-mail linked, e-mail verified; the cards shown.
    for (auto [telegram, email, verified, shown] :
         {std::tuple{true, true, true, "telegramLinkedCard emailVerifiedCard"},
          {true, true, false, "telegramLinkedCard emailUnverifiedCard"},
          {false, false, false, "linkTelegramCard linkEmailCard"}}) {
        answer("/api/subscription", subscriptionWith({{"is_telegram_linked", telegram},
                                                      {"is_email_linked", email},
                                                      {"is_email_verified", verified}}));
        reloadAndWait();
        EXPECT_EQ(cards(), "behaviourCard serviceAbsentCard " + std::string(shown));
    }
    installJob();
    open(make<SettingsPanel>());
    EXPECT_EQ(cards(), "behaviourCard serviceInstalledCard linkTelegramCard linkEmailCard");
}

TEST_F(Screens, DevicesOtherThanThisOneCanBeRevokedOneByOneOrAllAtOnce) {
    open(make<DevicesPanel>());
    model_->loadDevices();
    ASSERT_TRUE(waitWithEvents([&] { return model_->devices().size() == 3; }));
    DeviceItem current = model_->devices()[0], phone = model_->devices()[1];
    ASSERT_TRUE(current.current);
    EXPECT_EQ(
        texts(find<QWidget>(QStringLiteral("deviceRow%1").arg(current.id))),
        (QStringList{"MacBook Pro",
                     QString::fromStdString("macOS · активность " + Texts::stamp("2025-03-04T18:00:00Z")),
                     "это устройство"}));

    auto buttons = [&](const char* pattern) {
        return panel_->findChildren<QWidget*>(QRegularExpression(pattern)).size();
    };
    click(QStringLiteral("revokeDevice%1").arg(phone.id));
    auto revoked = sent("/api/devices/revoke");
    ASSERT_TRUE(revoked);
    EXPECT_EQ(json::parse(revoked->body)["device_id"], phone.id);
    ASSERT_TRUE(waitWithEvents([&] { return buttons("^revokeDevice") == 1; }));
    click("revokeOthersButton");
    ASSERT_TRUE(sent("/api/devices/revoke-others"));
    ASSERT_TRUE(waitWithEvents([&] { return buttons("^deviceRow") == 1; }));

    answer("/api/devices", {{"devices", json::array()}});
    click("reloadDevicesButton");
    ASSERT_TRUE(waitWithEvents([&] { return model_->devices().empty(); }));
    EXPECT_EQ(find<QLabel>("devicesEmpty")->text(), "Список пуст");
}

TEST_F(Screens, TheConversationShowsWhoWroteWhenAndSavesWhatSupportSent) {
    open(make<SupportPanel>());
    EXPECT_EQ(find<QLabel>("messagesEmpty")->text(), "Сообщений пока нет");
    model_->loadSupportMessages();
    ASSERT_TRUE(waitWithEvents([&] { return model_->supportMessages().size() == 3; }));
    QCoreApplication::processEvents(); // the new bubbles' layout
    SupportMessageList messages = model_->supportMessages();
    auto bubble = [&](size_t index) {
        return find<QFrame>(QStringLiteral("message%1").arg(messages[index].id));
    };
    QString when = QString::fromStdString(Texts::stamp("2025-03-01T09:12:00Z"));
    EXPECT_EQ(texts(bubble(1)), (QStringList{when, "Вы", "Не подключается сервер в Германии."}));
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
    fs::path saved = downloads() + "/инструкция.txt";
    ASSERT_TRUE(waitWithEvents([&] { return fs::exists(saved) && !model_->busy(); }));
    EXPECT_EQ(test::readFile(saved), "1. Откройте ORVEX.\n2. Выберите другой сервер.\n");
}

// Not a check: every panel of a connected window as PNG files for a person to look at
// (ORVEX_SHOTS_DIR, else ./screens).
TEST_F(Screens, RenderForReview) {
    QString folder = qEnvironmentVariable("ORVEX_SHOTS_DIR", QDir::currentPath() + "/screens");
    QDir().mkpath(folder);
    answer("/api/servers", serversWith(45, 120, {"Нидерланды", "Германия", "Финляндия"}));
    service_->script([](auto& s) { s.current = statusIn(TunnelState::connected, false, "Нидерланды"); });
    openRoot(true);
    model_->refreshStatus();
    model_->measurePings();
    ASSERT_TRUE(
        waitWithEvents([&] { return model_->status().serverName != "" && model_->pings().size() == 3; }));
    const char* names[] = {"home",    "server", "settings", "diagnostics",
                           "history", "promo",  "support",  "devices"};
    for (int panel = 0; panel < 8; ++panel) {
        view()->mainView()->select(static_cast<MainView::Panel>(panel));
        waitWithEvents([&] { return !model_->busy(); });
        QCoreApplication::processEvents();
        EXPECT_TRUE(panel_->grab().save(folder + "/" + names[panel] + ".png")) << names[panel];
    }
}

} // namespace
} // namespace orvex

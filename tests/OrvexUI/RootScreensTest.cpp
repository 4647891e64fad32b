// The sign-in screen, the home panel, the sidebar and the update dialog offscreen, driven as a
// user would against the real model with a scripted service and the account-server fixture.
#include "RootView.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <filesystem>
#include <gtest/gtest.h>

#include "APIServerFixture.h"
#include "AppModel.h"
#include "ConnectButton.h"
#include "LinkView.h"
#include "MainView.h"
#include "ModelFakes.h"
#include "Paths.h"
#include "ScreenTexts.h"
#include "Theme.h"
#include "TokenStore.h"
#include "UpdateDialog.h"
#include "UpdateMirrors.h"

namespace orvex {
namespace {

using test::statusIn;
using test::waitWithEvents;

class RootScreens : public ::testing::Test, protected test::ScratchDesktop {
protected:
    static void SetUpTestSuite() { test::ensureWidgetApplication(Theme::styleSheet()); }

    RootScreens() {
        desktop_.journal = [this](const std::string& entry) { service_->note(entry); };
        Paths::ensureDir(dir_ / "Library/LaunchDaemons");
        test::writeFile(Paths::daemonPlist(), "job");
    }

    // A model and its root view in a 960 × 620 window, shown.
    void open(bool linked) {
        if (linked) TokenStore::save(server_->token(), *desktop_.keychain);
        model_ = std::make_unique<AppModel>(
            test::environment(dir_.path(), service_, server_->baseURL(), desktop_));
        view_ = std::make_unique<RootView>(*model_);
        view_->resize(960, 620);
        view_->show();
        ASSERT_TRUE(waitWithEvents([&] { return !linked || model_->subscription().has_value(); }));
    }

    template <typename T> T* find(const char* name) {
        T* widget = view_->findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    // As a user would: once the window has laid itself out.
    void click(const char* name) {
        QCoreApplication::processEvents();
        QTest::mouseClick(find<QPushButton>(name), Qt::LeftButton);
    }
    void type(const char* name, const QString& text) {
        QLineEdit* field = find<QLineEdit>(name);
        field->clear();
        QTest::keyClicks(field, text);
    }

    std::vector<std::string> paths() {
        std::vector<std::string> result;
        for (const auto& request : server_->requests()) result.push_back(request.method + " " + request.path);
        return result;
    }

    std::unique_ptr<AppModel> model_;
    std::unique_ptr<RootView> view_;
};

TEST(ScreenTexts, DaysReadAsNaturalRussian) {
    const std::pair<int, const char*> cases[] = {{0, "0 дней"},     {1, "1 день"},    {2, "2 дня"},
                                                 {4, "4 дня"},      {5, "5 дней"},    {11, "11 дней"},
                                                 {14, "14 дней"},   {21, "21 день"},  {22, "22 дня"},
                                                 {111, "111 дней"}, {101, "101 день"}};
    for (const auto& [count, text] : cases) EXPECT_EQ(ScreenTexts::days(count), text) << count;
    EXPECT_EQ(ScreenTexts::traffic(12.46, 200.0), "12.5 из 200 ГБ");
    EXPECT_EQ(ScreenTexts::traffic(3, std::nullopt), "3.0 ГБ");
}

TEST_F(RootScreens, EachSignInModeCallsItsOperationWithTheTypedText) {
    open(false);
    auto* link = view_->linkView();
    ASSERT_TRUE(link->isVisible());
    EXPECT_EQ(link->mode(), LinkView::Mode::code);

    click("toEmailButton");
    type("emailField", " Demo@Orvex.TEST ");
    type("passwordField", "wrong");
    click("registerButton");
    ASSERT_TRUE(waitWithEvents([&] { return server_->requestCount() == 1 && !model_->busy(); }));
    EXPECT_EQ(paths().back(), "POST /api/register");
    EXPECT_NE(server_->requests().back().body.find("demo@orvex.test"), std::string::npos);

    click("toResetButton");
    EXPECT_EQ(find<QLineEdit>("resetEmailField")->text(), " Demo@Orvex.TEST ") << "the address carries over";
    click("sendResetCodeButton");
    ASSERT_TRUE(waitWithEvents([&] { return server_->requestCount() == 2 && !model_->busy(); }));
    type("resetCodeField", "RESET-7");
    type("newPasswordField", "new-password-1");
    QTest::keyClick(find<QLineEdit>("newPasswordField"), Qt::Key_Return);
    ASSERT_TRUE(waitWithEvents([&] { return server_->requestCount() == 3 && !model_->busy(); }));
    std::vector<std::string> sent = paths();
    EXPECT_EQ(std::vector<std::string>(sent.begin() + 1, sent.end()),
              (std::vector<std::string>{"POST /api/password/forgot", "POST /api/password/reset"}));

    click("backToEmailButton");
    type("passwordField", test::AccountServer::password);
    type("emailField", test::AccountServer::email);
    QTest::keyClick(find<QLineEdit>("passwordField"), Qt::Key_Return);
    ASSERT_TRUE(waitWithEvents([&] { return model_->linked(); }));
    EXPECT_TRUE(view_->mainView()->isVisible());
    EXPECT_EQ(view_->mainView()->panel(), MainView::Panel::home);

    // Signing out returns to the code form, where a code from a link lands in the field.
    click("unlinkButton");
    ASSERT_TRUE(waitWithEvents([&] { return link->isVisible(); }));
    model_->handleDeepLinkCode("246810");
    EXPECT_EQ(find<QLineEdit>("codeField")->text(), "246810");
    click("codeSignInButton");
    ASSERT_TRUE(waitWithEvents([&] { return model_->linked(); }));
    auto requests = server_->requests();
    auto auth =
        std::find_if(requests.begin(), requests.end(), [](const auto& r) { return r.path == "/api/auth"; });
    ASSERT_NE(auth, requests.end());
    EXPECT_NE(auth->body.find("246810"), std::string::npos);
}

TEST_F(RootScreens, TheHomePanelFollowsTheTunnel) {
    struct Case {
        TunnelStatus status;
        const char* line;
        const char* caption;
        const char* subtitle;
        bool holdBlock;
    };
    open(true);
    for (const Case& c :
         {Case{statusIn(TunnelState::disconnected), "Не подключено", "Подключиться", "Трафик не зашифрован",
               false},
          Case{statusIn(TunnelState::connecting), "Подключение…", "Подключение…", "Поднимаем туннель", false},
          Case{statusIn(TunnelState::connected), "Защищено", "Отключиться", "Трафик зашифрован", false},
          Case{statusIn(TunnelState::error), "Ошибка подключения", "Подключиться", "Трафик не зашифрован",
               false},
          Case{statusIn(TunnelState::error, true), "Трафик заблокирован", "Подключиться",
               "Трафик не зашифрован", true}}) {
        SCOPED_TRACE(c.line);
        service_->script([&](auto& s) { s.current = c.status; });
        model_->refreshStatus();
        ASSERT_TRUE(waitWithEvents([&] { return model_->status() == c.status; }));
        EXPECT_EQ(find<QLabel>("statusLine")->text(), c.line);
        EXPECT_EQ(find<ConnectButton>("connectButton")->caption(), c.caption);
        EXPECT_EQ(find<ConnectButton>("connectButton")->subtitle(), c.subtitle);
        EXPECT_EQ(find<QWidget>("killSwitchBlock")->isVisible(), c.holdBlock);
    }
    EXPECT_EQ(find<QLabel>("daysLeft")->text(), "23 дня");
    EXPECT_EQ(find<QLabel>("traffic")->text(), "12.5 из 200 ГБ");

    // "Снять блокировку" disconnects, which lifts the hold; the kill switch itself stays on.
    click("unblockButton");
    ASSERT_TRUE(waitWithEvents([&] { return !model_->busy() && !model_->status().killSwitchHold; }));
    EXPECT_EQ(service_->journal(), std::vector<std::string>{"disconnect"});
}

TEST_F(RootScreens, ListsLoadEachTimeTheirPanelIsShown) {
    open(true);
    server_->clearRequests();
    MainView* main = view_->mainView();
    for (const char* row : {"historyRow", "devicesRow", "supportRow", "homeRow", "historyRow"}) click(row);
    ASSERT_TRUE(waitWithEvents([&] { return server_->requestCount() >= 4; }));
    EXPECT_EQ(main->panel(), MainView::Panel::history);
    std::vector<std::string> loads = paths();
    EXPECT_EQ(std::count(loads.begin(), loads.end(), "GET /api/events"), 2);
    EXPECT_EQ(std::count(loads.begin(), loads.end(), "GET /api/devices"), 1);
    EXPECT_EQ(std::count(loads.begin(), loads.end(), "GET /api/support/messages"), 1);
}

TEST_F(RootScreens, TheUpdateDialogOffersTheVersionAndStaysClosedOnceDismissed) {
    std::filesystem::create_directories(dir_ / "mirrors");
    test::UpdateMirrors mirrors(dir_ / "mirrors");
    mirrors.first().setManifest(
        test::UpdateMirrors::manifest("9.1.0", "https://x/ORVEX-9.1.0.dmg", "Быстрее."));
    open(true);
    ASSERT_TRUE(waitWithEvents([&] { return view_->updateDialog()->isVisible(); }));
    EXPECT_EQ(view_->updateDialog()->windowTitle(), "Вышло обновление");
    QTest::mouseClick(view_->updateDialog()->findChild<QPushButton*>("dismissUpdateButton"), Qt::LeftButton);
    EXPECT_FALSE(view_->updateDialog()->isVisible());
    EXPECT_EQ(model_->updateDismissed(), "9.1.0");
    model_->checkUpdateSilently();
    EXPECT_FALSE(
        waitWithEvents([&] { return view_->updateDialog()->isVisible(); }, std::chrono::milliseconds(500)));
}

// For a person to look at: the sign-in forms, the home panel with a held kill switch and a
// required update, and the update dialog, at the window's size.
TEST_F(RootScreens, RenderForReview) {
    std::string folder =
        qEnvironmentVariable("ORVEX_SHOTS_DIR", QDir::currentPath() + "/screens").toStdString();
    std::filesystem::create_directories(folder);
    auto shot = [&](QWidget* widget, const std::string& name) {
        QCoreApplication::processEvents();
        EXPECT_TRUE(widget->grab().save(QString::fromStdString(folder + "/" + name + ".png")));
    };
    open(false);
    shot(view_.get(), "signin-code");
    view_->linkView()->setMode(LinkView::Mode::email);
    shot(view_.get(), "signin-email");
    view_->linkView()->setMode(LinkView::Mode::reset);
    shot(view_.get(), "signin-reset");

    std::filesystem::create_directories(dir_ / "mirrors");
    test::UpdateMirrors mirrors(dir_ / "mirrors");
    mirrors.first().setManifest(test::UpdateMirrors::manifest(
        "9.2.0", "https://x/ORVEX-9.2.0.dmg", "Новый движок и быстрые переподключения.", "9.0.0"));
    model_->checkUpdateSilently();
    model_->login(test::AccountServer::email, test::AccountServer::password);
    ASSERT_TRUE(waitWithEvents([&] { return model_->linked() && model_->subscription().has_value(); }));
    ASSERT_TRUE(waitWithEvents([&] { return view_->updateDialog()->isVisible(); }));
    shot(view_->updateDialog(), "update-dialog");
    view_->updateDialog()->hide();
    service_->script([](auto& s) { s.current = statusIn(TunnelState::error, true); });
    model_->refreshStatus();
    ASSERT_TRUE(waitWithEvents([&] { return model_->status().killSwitchHold; }));
    shot(view_.get(), "home-held-update-required");
    service_->script([](auto& s) {
        s.current = statusIn(TunnelState::connected);
        s.current.serverName = "Нидерланды";
    });
    model_->refreshStatus();
    ASSERT_TRUE(waitWithEvents([&] { return model_->status().state == TunnelState::connected; }));
    shot(view_.get(), "home-connected");
}

} // namespace
} // namespace orvex

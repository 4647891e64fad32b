// The desktop shell offscreen: tray, links, quit, the widget's files, and start at login.
#include "AppDelegate.h"

#include <QMainWindow>
#include <QMenu>
#include <QSystemTrayIcon>
#include <algorithm>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>

#include "Autostart.h"
#include "DesktopEntry.h"
#include "ElevationError.h"
#include "ModelFakes.h"
#include "Paths.h"
#include "UpdateMirrors.h"
#include "WidgetStatus.h"

namespace orvex {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using json = nlohmann::json;
using test::statusIn;
using test::waitWithEvents;
using Journal = std::vector<std::string>;

class AppDelegateTest : public ::testing::Test, protected test::ScratchDesktop {
protected:
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

TEST_F(AppDelegateTest, TheTrayNamesEachStateAndAMandatoryUpdateBlocksOnlyConnecting) {
    auto delegate = launch();
    AppModel& m = delegate->model();
    const std::tuple<TunnelStatus, std::string, std::string> cases[] = {
        {statusIn(TunnelState::disconnected), "не подключено", "Подключить"},
        {statusIn(TunnelState::connecting), "подключение…", "Отключить"},
        {statusIn(TunnelState::connected, false, "Германия"), "подключено, Германия", "Отключить"},
        {statusIn(TunnelState::connected), "подключено", "Отключить"},
        {statusIn(TunnelState::error), "ошибка", "Подключить"}};
    for (const auto& [status, tip, action] : cases) {
        service_->script([&](auto& s) { s.current = status; });
        m.refreshStatus();
        ASSERT_TRUE(waitWithEvents([&] { return m.status() == status; }));
        EXPECT_EQ(delegate->tray()->toolTip().toStdString(), "ORVEX — " + tip);
        EXPECT_EQ(menuTexts(*delegate),
                  (Journal{"ORVEX — " + tip, "—", action, "Открыть ORVEX", "—", "Выход"}));
    }

    // A mandatory update turns the action into the way to the update and cannot be dismissed;
    // a check that fails later does not lift it.
    test::UpdateMirrors mirrors(dir_.path());
    mirrors.first().setManifest(
        test::UpdateMirrors::manifest("9.0.0", "https://x/ORVEX-9.0.0.dmg", "", "9.0.0"));
    m.checkUpdateSilently();
    ASSERT_TRUE(waitWithEvents([&] { return m.mandatoryUpdatePending(); }));
    EXPECT_EQ(menuTexts(*delegate)[0], "ORVEX — ошибка");
    EXPECT_EQ(menuTexts(*delegate)[2], "Нужно обновление — обновить");
    m.dismissUpdateDialog();
    EXPECT_TRUE(m.showUpdateDialog());
    mirrors.first().setManifest("{}");
    mirrors.second().setManifest("{}");
    m.checkUpdateSilently();
    ASSERT_TRUE(
        waitWithEvents([&] { return mirrors.second().requestCount(test::UpdateServer::manifestPath) == 1; }));
    EXPECT_FALSE(waitWithEvents([&] { return !m.mandatoryUpdatePending(); }, std::chrono::milliseconds(300)));
    service_->script([](auto& s) { s.current = statusIn(TunnelState::disconnected); });
    m.refreshStatus();
    ASSERT_TRUE(waitWithEvents([&] { return delegate->tray()->toolTip() == "ORVEX — нужно обновление"; }));
    EXPECT_TRUE(widgetFileHas(R"("blocked":true)"));
    delegate->window()->hide();
    delegate->trayMenu()->actions()[2]->trigger();
    EXPECT_TRUE(delegate->window()->isVisible());
    m.connect();
    EXPECT_EQ(m.message(), "Обновите приложение — эта версия больше не поддерживается сервером.");
    EXPECT_TRUE(service_->journal().empty());

    // Disconnecting still works, and the new version was announced once.
    service_->script([](auto& s) { s.current = statusIn(TunnelState::connected); });
    m.refreshStatus();
    ASSERT_TRUE(waitWithEvents([&] { return m.status().state == TunnelState::connected; }));
    m.toggleConnection();
    ASSERT_TRUE(waitWithEvents([&] { return !m.busy(); }));
    EXPECT_EQ(service_->journal(), Journal{"disconnect"});
    EXPECT_EQ(std::ranges::count(centre_->posted, "Вышло обновление ORVEX", &Notices::Notice::title), 1);
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
    elevation_ = [](const std::string&) { throw ElevationError::cancelled(); };
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
        EXPECT_EQ(std::ranges::count(service_->journal(), "disconnect"), 1) << "a second quit asks again";
    }
    terminations_ = 0;
    launch()->requestQuit();
    EXPECT_EQ(terminations_, 1) << "disconnected: at once";
}

const std::chrono::system_clock::time_point newYear2026 =
    std::chrono::sys_days{std::chrono::year{2026} / 1 / 1};

bool exists(const std::string& path) { return fs::exists(fs::symlink_status(path)); }

// One shared folder, a clock the test moves, and counters for widget reloads and toggles.
struct Bridge {
    test::TempDir dir;
    std::chrono::system_clock::time_point now = newYear2026;
    int reloads = 0, toggles = 0;
    WidgetStatus status{dir / "shared", 0777, [this] { ++reloads; }, [this] { return now; }};
    std::function<void()> toggle = [this] { ++toggles; };

    std::string statusPath() const { return dir / "shared/widget-status.json"; }
    std::string commandPath() const { return dir / "shared/widget-command.json"; }
    // Seconds from 2001 to now: the file's "updated".
    double updated() const { return std::chrono::duration<double>(now - newYear2026).count() + 788918400; }
    json file() const { return json::parse(test::readFile(statusPath())); }
    // A toggle command as the widget writes it, made `age` before now.
    std::string command(const std::string& id, std::chrono::seconds age = 0s) const {
        double at = std::chrono::duration<double>((now - age).time_since_epoch()).count();
        return json{{"action", "toggle"}, {"id", id}, {"at", at}}.dump();
    }
    void leave(const std::string& contents) { test::writeFile(commandPath(), contents); }
};

TEST(WidgetStatusTest, TheFileIsTheWidgetsRecordAndIsWrittenOnlyOnRealChanges) {
    Bridge bridge;
    bridge.status.publish(TunnelState::connected, "Нидерланды", false);
    EXPECT_EQ(
        test::readFile(bridge.statusPath()),
        R"({"state":"connected","server":"Нидерланды","blocked":false,"updated":788918400,"alive":true})");

    const std::tuple<TunnelState, std::string, bool, bool> steps[] = {
        // state, server, update required, whether it writes
        {TunnelState::connected, "NL", false, true},
        {TunnelState::connected, "NL", false, false}, // the once-a-second status poll
        {TunnelState::connected, "DE", false, true},  // the server alone changed
        {TunnelState::connected, "DE", true, true},   // a mandatory update arrived
        {TunnelState::disconnected, "DE", true, true},
    };
    double lastWrite = 0;
    int writes = 1;
    for (const auto& [state, server, blocked, writesNow] : steps) {
        bridge.now += 1s;
        bridge.status.publish(state, server, blocked);
        if (writesNow) ++writes, lastWrite = bridge.updated();
        EXPECT_EQ(bridge.reloads, writes);
        EXPECT_EQ(bridge.file()["updated"], lastWrite);
        EXPECT_EQ(bridge.file()["server"], server);
        EXPECT_EQ(bridge.file()["blocked"], blocked);
    }
}

TEST(WidgetStatusTest, CommandFilesAreTakenOnlyWhenTheyAreFreshToggles) {
    enum Kind { file, fifo, folder, link };
    Bridge clock; // only for the commands' times
    const std::tuple<std::string, std::string, Kind, int, bool> cases[] = {
        // what, contents, kind of file, toggles, whether it remains
        {"fresh toggle", clock.command("a", 29s), file, 1, false},
        {"31 s old", clock.command("a", 31s), file, 0, false},
        {"no time", R"({"action":"toggle","id":"a"})", file, 0, false},
        {"other action", R"({"action":"quit","id":"a","at":1.8e9})", file, 0, false},
        {"invalid JSON", R"({"action":"toggle",)", file, 0, true},
        {"no id", R"({"action":"toggle","at":1.8e9})", file, 0, true},
        {"id not text", R"({"action":"toggle","id":7,"at":1.8e9})", file, 0, true},
        {"exactly 4 KiB", (clock.command("a") + std::string(4096, ' ')).substr(0, 4096), file, 1, false},
        {"1 MiB", clock.command("a") + std::string(1 << 20, ' '), file, 0, true},
        {"FIFO", "", fifo, 0, true},
        {"folder", "", folder, 0, true},
        {"symbolic link", clock.command("a"), link, 0, true},
    };
    for (const auto& [what, contents, kind, toggles, remains] : cases) {
        SCOPED_TRACE(what);
        Bridge bridge;
        bridge.status.targets();
        if (kind == file) bridge.leave(contents);
        ASSERT_EQ(kind == fifo ? ::mkfifo(bridge.commandPath().c_str(), 0666) : 0, 0);
        if (kind == folder) fs::create_directories(bridge.commandPath());
        if (kind == link) test::writeFile(bridge.dir / "elsewhere.json", contents);
        if (kind == link) fs::create_symlink(bridge.dir / "elsewhere.json", bridge.commandPath());
        bridge.status.consumeCommand(bridge.toggle);
        EXPECT_EQ(bridge.toggles, toggles);
        EXPECT_EQ(exists(bridge.commandPath()), remains);
    }

    // Each command id toggles once.
    Bridge bridge;
    for (const char* id : {"one", "one", "two"}) {
        bridge.leave(bridge.command(id));
        bridge.status.consumeCommand(bridge.toggle);
        EXPECT_FALSE(exists(bridge.commandPath())) << id;
    }
    EXPECT_EQ(bridge.toggles, 2);
}

TEST(WidgetStatusTest, APendingMarkLastsUntilTheNextPublishItsToggleOrTwentySeconds) {
    Bridge bridge;
    bridge.status.publish(TunnelState::connected, "NL", false);
    bridge.leave(bridge.command("a"));
    bridge.status.consumeCommand([&] { bridge.status.notePending(true); });
    EXPECT_EQ(bridge.file()["pending"], "disconnect");
    bridge.status.publish(TunnelState::connected, "NL", false); // the toggle changed nothing yet
    EXPECT_FALSE(bridge.file().contains("pending"));
    bridge.status.notePending(false);
    bridge.status.noteAppGone();
    EXPECT_FALSE(bridge.file().contains("pending"));
    EXPECT_EQ(bridge.file()["alive"], false);

    // Heartbeats after it (each after the one before), whether its toggle ends, the mark kept.
    const std::tuple<std::vector<std::chrono::seconds>, bool, bool> cases[] = {
        {{19s}, false, true}, {{15s, 5s}, false, false}, {{}, true, false}};
    for (const auto& [heartbeats, toggleEnds, pending] : cases) {
        Bridge bridge;
        bridge.status.publish(TunnelState::disconnected, "NL", false);
        bridge.status.notePending(false);
        for (auto step : heartbeats) {
            bridge.now += step;
            bridge.status.heartbeat();
        }
        if (toggleEnds) bridge.status.clearPending();
        EXPECT_EQ(bridge.file().contains("pending"), pending) << heartbeats.size();
        EXPECT_EQ(bridge.file()["updated"], bridge.updated());
        EXPECT_EQ(bridge.file()["alive"], true);
    }
}

TEST(WidgetStatusTest, TheSharedFolderGetsItsModeWhenWeMakeIt) {
    for (mode_t mode : {0700, 0777}) {
        test::TempDir dir;
        WidgetStatus status(dir / "a/b/widget", mode);
        EXPECT_EQ(status.targets(), std::vector<std::string>{dir / "a/b/widget/widget-status.json"});
        struct stat info {};
        ASSERT_EQ(::stat((dir / "a/b/widget").c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, mode);
    }
}

TEST(Autostart, TheMacAgentOpensTheBundleAtLogin) {
    std::string agent = Autostart::agentPlist("/Applications/ORVEX.app");
    for (const char* piece : {"<key>Label</key>\n\t<string>net.orvex.app</string>\n",
                              "<array>\n\t\t<string>/usr/bin/open</string>\n\t\t<string>-a</string>\n"
                              "\t\t<string>/Applications/ORVEX.app</string>\n\t</array>\n",
                              "<key>RunAtLoad</key>\n\t<true/>\n</dict>\n</plist>\n"})
        EXPECT_NE(agent.find(piece), std::string::npos) << agent;
}

TEST(Autostart, TheLinuxEntryIsOnWhileItExistsUnhidden) {
    test::TempDir dir;
    test::ScopedEnv config("XDG_CONFIG_HOME", dir / "config");
    const std::string entry = dir / "config/autostart/net.orvex.app.desktop";
    const std::string widgetEntry = dir / "config/autostart/net.orvex.widget.desktop";
    EXPECT_EQ(Autostart::Xdg::entryPath(), entry);
    EXPECT_FALSE(Autostart::Xdg::isEnabled());

    EXPECT_EQ(Autostart::Xdg::setEnabled(true), std::nullopt);
    EXPECT_TRUE(Autostart::Xdg::isEnabled());
    std::string widgetProgram = std::filesystem::path(Paths::executable()).replace_filename("orvex-widget");
    for (auto [file, program] : {std::pair{entry, Paths::executable()}, {widgetEntry, widgetProgram}})
        EXPECT_NE(test::readFile(file).find("Exec=" + DesktopEntry::execWord(program) + "\n"),
                  std::string::npos)
            << file << " (the widget starts with the application)";

    test::writeFile(entry, test::readFile(entry) + "Hidden=true\n");
    EXPECT_FALSE(Autostart::Xdg::isEnabled()) << "the desktop's settings hide an entry this way";
    EXPECT_EQ(Autostart::Xdg::setEnabled(false), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(entry) || std::filesystem::exists(widgetEntry));

    // A file where the folder should be: even root cannot write through it.
    std::filesystem::remove_all(dir / "config/autostart");
    test::writeFile(dir / "config/autostart", "in the way");
    EXPECT_TRUE(
        Autostart::Xdg::setEnabled(true).value_or("").starts_with("Не удалось включить автозапуск: "));
    EXPECT_FALSE(Autostart::Xdg::isEnabled());
}

TEST(DesktopEntry, ExecWordsSurviveBothLevelsOfEscaping) {
    EXPECT_EQ(DesktopEntry::execWord("/opt/orvex/orvex"), "\"/opt/orvex/orvex\"");
    EXPECT_EQ(DesktopEntry::execWord("/a b/$x\"y`z\\w"), "\"/a b/\\\\$x\\\\\"y\\\\`z\\\\\\\\w\"");
}

} // namespace
} // namespace orvex

// The widget's rules, files and button, with time and files in the test's hands.
#include "ToggleIntent.h"
#include "WidgetFiles.h"
#include "WidgetRules.h"
#include "WidgetTheme.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <deque>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "TestSupport.h"

namespace orvex::widget {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const TimePoint now = std::chrono::sys_days{std::chrono::year{2026} / 1 / 1};

Snapshot snap(const char* state, double age, bool blocked = false, std::optional<std::string> pending = {},
              std::optional<bool> alive = true) {
    return {state, "Нидерланды", blocked, secondsSince2001(now) - age, std::move(pending), alive};
}

// What the widget shows for `s` now: title/subtitle/button/dot/button enabled/tap link/refresh.
std::string shown(const Snapshot& s) {
    QColor dot = WidgetRules::dotColour(s, now);
    std::string colour = dot == WidgetTheme::ok()      ? "ok"
                         : dot == WidgetTheme::warn()  ? "warn"
                         : dot == WidgetTheme::error() ? "error"
                                                       : (dot == WidgetTheme::onLow() ? "low" : "?");
    return WidgetRules::title(s, now) + "/" + WidgetRules::subtitle(s, now) + "/" +
           WidgetRules::buttonTitle(s, now) + "/" + colour +
           (WidgetRules::pendingActive(s, now) ? "/off/" : "/on/") + WidgetRules::tapURL(s, now).substr(11) +
           "/" + std::to_string(WidgetRules::refreshAfter(s).count());
}

TEST(WidgetRules, EachSnapshotShowsItsTitleSubtitleButtonDotAndLink) {
    Snapshot nameless = snap("error", 5);
    nameless.server.clear();
    const std::pair<Snapshot, std::string> cases[] = {
        {snap("connected", 5), "Защищено/Нидерланды/Отключить/ok/on/toggle/60"},
        {snap("connecting", 5), "Подключение…/Нидерланды/Отключить/warn/on/toggle/60"},
        {nameless, "Ошибка//Подключить/error/on/toggle/60"},
        {snap("disconnected", 5), "Отключено/Нидерланды/Подключить/low/on/toggle/60"},
        {Snapshot::unknown(), "Нет данных/Откройте ORVEX/Подключить/low/on/toggle/60"},
        {snap("paused", 5), "Нет данных/Нидерланды/Подключить/low/on/toggle/60"},
        // A pending mark lasts under 20 s; one the widget does not know keeps the state's title.
        {snap("connected", 19.999, false, "disconnect"),
         "Отключение…/Нидерланды/Отключить/warn/off/toggle/20"},
        {snap("connected", 20, false, "disconnect"), "Защищено/Нидерланды/Отключить/ok/on/toggle/20"},
        {snap("disconnected", 0, false, "connect"), "Подключение…/Нидерланды/Подключить/warn/off/toggle/20"},
        {snap("connected", 5, false, "sideways"), "Защищено/Нидерланды/Подключить/warn/off/toggle/20"},
        // An update request lasts under 300 s, never once the application quit, and outranks a toggle.
        {snap("connected", 5, true, {}, {}),
         "Нужно обновление/Откройте приложение/Отключить/warn/on/update/60"},
        {snap("connected", 299.999, true),
         "Нужно обновление/Откройте приложение/Отключить/warn/on/update/60"},
        {snap("connected", 300, true), "Защищено/Нидерланды/Отключить/ok/on/toggle/60"},
        {snap("disconnected", 1, true, {}, false), "Отключено/Нидерланды/Подключить/low/on/toggle/60"},
        {snap("disconnected", 1, true, "connect"),
         "Нужно обновление/Откройте приложение/Подключить/warn/off/update/20"},
    };
    for (const auto& [snapshot, expected] : cases) EXPECT_EQ(shown(snapshot), expected);
}

const std::string connected =
    R"({"state":"connected","server":"Нидерланды","blocked":false,"updated":788918400,"alive":true})";
const std::string disconnected =
    R"({"state":"disconnected","server":"","blocked":false,"updated":788918999})";

TEST(WidgetFiles, TheSharedFolderIsTheApplicationsAndComesFirst) {
    test::TempDir dir;
    test::ScopedEnv home("HOME", dir / "home");
    test::ScopedEnv data("XDG_DATA_HOME", std::nullopt);
    // The platform, ORVEX_ROOT, XDG_STATE_HOME, and the shared folder.
    using Text = std::optional<std::string>;
    const std::tuple<const char*, Text, Text, std::string> cases[] = {
        {"macos", std::nullopt, std::nullopt, "/Users/Shared/ORVEX"},
        {"macos", dir.path(), dir / "state", dir / "Users/Shared/ORVEX"},
        {"macos", dir.path() + "//", std::nullopt, dir / "Users/Shared/ORVEX"},
        {"macos", "/", std::nullopt, "/Users/Shared/ORVEX"},
        {"macos", "relative/root", std::nullopt, "/Users/Shared/ORVEX"},
        {"linux", dir.path(), std::nullopt, dir / "home/.local/state/orvex/widget"},
        {"linux", std::nullopt, dir / "state", dir / "state/orvex/widget"},
        {"linux", std::nullopt, "relative/state", dir / "home/.local/state/orvex/widget"},
    };
    for (const auto& [system, root, state, shared] : cases) {
        SCOPED_TRACE(std::string(system) + " " + root.value_or("(no root)") + " " + state.value_or(""));
        test::ScopedEnv platform("ORVEX_PLATFORM", system), rootEnv("ORVEX_ROOT", root),
            stateEnv("XDG_STATE_HOME", state);
        EXPECT_EQ(WidgetFiles::sharedDir(), shared);
        EXPECT_EQ(WidgetFiles::candidates(),
                  (std::vector<std::string>{shared + "/widget-status.json",
                                            dir / "home/.local/share/orvex-widget/widget-status.json"}));
    }
    test::ScopedEnv dataHome("XDG_DATA_HOME", dir / "data");
    EXPECT_EQ(WidgetFiles::candidates().at(1), dir / "data/orvex-widget/widget-status.json");
    test::ScopedEnv config("XDG_CONFIG_HOME", dir / "config");
    EXPECT_EQ(WidgetFiles::settingsPath(), dir / "config/orvex/widget.ini");
}

TEST(WidgetFiles, TheFirstCandidateThatDecodesWinsWhateverItsDate) {
    test::TempDir dir;
    test::ScopedEnv platform("ORVEX_PLATFORM", "linux");
    test::ScopedEnv state("XDG_STATE_HOME", dir / "state");
    test::ScopedEnv data("XDG_DATA_HOME", dir / "data");
    const std::string shared = dir / "state/orvex/widget/widget-status.json";
    const std::string own = dir / "data/orvex-widget/widget-status.json";

    EXPECT_EQ(WidgetFiles::load().state, "unknown");
    EXPECT_EQ(WidgetFiles::commandURL(), std::nullopt) << "no shared folder, nobody to read a command";
    test::writeFile(own, disconnected);
    EXPECT_EQ(WidgetFiles::load().state, "disconnected");
    test::writeFile(shared, connected);
    EXPECT_EQ(WidgetFiles::load().state, "connected") << "the shared folder wins although its file is older";
    EXPECT_EQ(WidgetFiles::commandURL(), dir / "state/orvex/widget/widget-command.json");
    test::writeFile(shared, R"({"state":"connected")");
    EXPECT_EQ(WidgetFiles::load().state, "disconnected") << "a file that does not decode is passed over";
}

TEST(WidgetFiles, OnlyASmallRegularFileReachedWithoutALinkIsRead) {
    test::TempDir dir;
    const std::string path = dir / "widget-status.json";
    test::writeFile(dir / "elsewhere.json", connected);

    fs::create_symlink(dir / "elsewhere.json", path);
    EXPECT_EQ(WidgetFiles::readStatus(path), std::nullopt) << "a link";
    fs::remove(path);
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    EXPECT_EQ(WidgetFiles::readStatus(path), std::nullopt) << "a FIFO, and reading it must not block";
    fs::remove(path);
    fs::create_directory(path);
    EXPECT_EQ(WidgetFiles::readStatus(path), std::nullopt) << "a folder";
    fs::remove(path);

    std::string padded = connected + std::string(64 * 1024 - connected.size(), ' ');
    test::writeFile(path, padded);
    EXPECT_EQ(WidgetFiles::readStatus(path), padded) << "64 KiB exactly";
    test::writeFile(path, padded + " ");
    EXPECT_EQ(WidgetFiles::readStatus(path), std::nullopt) << "one byte over";
}

TEST(Snapshot, DecodesTheApplicationsRecordAndNothingLoose) {
    const std::string base = R"("state":"connected","server":"A","blocked":false,"updated":0)";
    // What decodes as "pending/alive" ("-": absent); "x": nothing decodes.
    const std::pair<std::string, std::string> cases[] = {
        {"{" + base + "}", "-/-"},
        {"{" + base + R"(,"pending":"connect","alive":false,"extra":1})", "connect/0"},
        {"{" + base + R"(,"pending":null,"alive":null})", "-/-"},
        {"{" + base + R"(,"alive":"yes"})", "x"},
        {"{" + base + R"(,"pending":7})", "x"},
        {"{" + base + "} trailing", "x"},
        {"[{" + base + "}]", "x"},
        {R"({"server":"A","blocked":false,"updated":0})", "x"},
        {R"({"state":"connected","server":null,"blocked":false,"updated":0})", "x"},
        {R"({"state":"connected","server":"A","blocked":1,"updated":0})", "x"},
        {R"({"state":"connected","server":"A","blocked":false,"updated":"0"})", "x"},
    };
    for (const auto& [text, decoded] : cases) {
        std::optional<Snapshot> got = Snapshot::decode(text);
        EXPECT_EQ(!got ? "x"
                       : got->pending.value_or("-") + "/" + (got->alive ? std::to_string(*got->alive) : "-"),
                  decoded)
            << text;
    }
    // "updated" counts from 2001: the application's file of 2026-01-01 00:00:00 UTC is 0 s old then.
    Snapshot written = *Snapshot::decode(connected);
    EXPECT_EQ(written.age(now), 0);
    EXPECT_EQ(written.server, "Нидерланды");
    EXPECT_TRUE(Snapshot::unknown().age(std::chrono::system_clock::now()) > 1e10);
}

TEST(ToggleIntent, LeavesACommandWaitsForTheApplicationAndFallsBackToTheLink) {
    struct Case {
        bool folder, commandBlocked;      // the shared folder exists; a folder sits where the command goes
        std::optional<int> appTakesAfter; // waits before the application deletes the command
        int waits;                        // of 0.1 s each
        bool linkOpened;
    };
    const Case cases[] = {
        {true, false, 2, 3, false},            // the application answers
        {true, false, 39, 40, false},          // at the last check
        {true, false, std::nullopt, 40, true}, // the application is silent
        {false, false, std::nullopt, 0, true}, // the application never ran here
        {true, true, std::nullopt, 0, true},   // the command cannot be written
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.waits + c.folder * 100 + c.commandBlocked * 1000);
        test::TempDir dir;
        test::ScopedEnv platform("ORVEX_PLATFORM", "linux");
        test::ScopedEnv state("XDG_STATE_HOME", dir / "state");
        const std::string folder = dir / "state/orvex/widget";
        const std::string command = folder + "/widget-command.json";
        if (c.folder) fs::create_directories(folder);
        if (c.commandBlocked) fs::create_directories(command + "/in-the-way");

        // Waits end only when the test lets them, and links are recorded instead of opened.
        TimePoint clock = now;
        std::deque<std::pair<std::chrono::milliseconds, std::function<void()>>> pending;
        std::vector<std::string> opened;
        ToggleIntent intent({
            .openURL = [&](const std::string& url) { opened.push_back(url); },
            .after = [&](std::chrono::milliseconds delay,
                         std::function<void()> step) { pending.emplace_back(delay, std::move(step)); },
            .now = [&] { return clock; },
        });
        int finished = 0;
        intent.perform([&] { ++finished; });
        if (c.waits > 0) {
            QJsonObject written =
                QJsonDocument::fromJson(QByteArray::fromStdString(test::readFile(command))).object();
            EXPECT_EQ(written.value("action").toString(), "toggle");
            EXPECT_EQ(written.value("id").toString().size(), 36);
            EXPECT_EQ(written.value("at").toDouble(), 1767225600.0);
        }
        int waits = 0;
        while (!pending.empty()) {
            EXPECT_EQ(opened.size(), 0u) << "never while waiting";
            auto [delay, step] = std::move(pending.front());
            pending.pop_front();
            clock += delay;
            step();
            if (++waits == c.appTakesAfter) fs::remove(command);
        }
        EXPECT_EQ(waits, c.waits);
        EXPECT_EQ(clock - now, c.waits * 100ms);
        EXPECT_EQ(opened,
                  c.linkOpened ? std::vector<std::string>{"orvexvpn://toggle"} : std::vector<std::string>{});
        EXPECT_EQ(finished, 1);
        EXPECT_EQ(fs::exists(folder), c.folder) << "nothing made where the application never ran";
        if (!c.folder) continue;
        for (const auto& entry : fs::directory_iterator(folder))
            EXPECT_TRUE(c.commandBlocked && entry.path() == command)
                << entry.path() << ": no command and no temporary file is left behind";
    }
}

} // namespace
} // namespace orvex::widget

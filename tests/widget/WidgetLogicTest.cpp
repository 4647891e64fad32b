// The widget's logic with time and files in the test's hands: what it shows for a snapshot at a
// moment (every rule and the 20 s and 300 s edges), where it looks for the status file and what
// it accepts and decodes there, and its button, whose 0.1-s waits run only when the test lets
// them and whose links are recorded instead of opened.
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

TEST(WidgetRules, EachSnapshotShowsItsTitleSubtitleButtonDotAndLink) {
    struct Case {
        const char* what;
        Snapshot snapshot;
        std::string title;
        std::string subtitle;
        std::string button;
        QColor dot;
        bool buttonEnabled;
        std::string tap;
        std::chrono::seconds refresh;
    };
    Snapshot nameless = snap("error", 5);
    nameless.server.clear();
    const QColor ok = WidgetTheme::ok(), warn = WidgetTheme::warn(), error = WidgetTheme::error(),
                 low = WidgetTheme::onLow();
    const std::string nl = "Нидерланды", toggle = "orvexvpn://toggle", update = "orvexvpn://update";
    const std::string open = "Откройте приложение", needed = "Нужно обновление";
    const Case cases[] = {
        {"protected", snap("connected", 5), "Защищено", nl, "Отключить", ok, true, toggle, 60s},
        {"connecting", snap("connecting", 5), "Подключение…", nl, "Отключить", warn, true, toggle, 60s},
        {"error, no server name: no subtitle line", nameless, "Ошибка", "", "Подключить", error, true, toggle,
         60s},
        {"disconnected", snap("disconnected", 5), "Отключено", nl, "Подключить", low, true, toggle, 60s},
        {"no file at all", Snapshot::unknown(), "Нет данных", "Откройте ORVEX", "Подключить", low, true,
         toggle, 60s},
        {"a state this widget does not know", snap("paused", 5), "Нет данных", nl, "Подключить", low, true,
         toggle, 60s},

        {"disconnect pending for 5 s", snap("connected", 5, false, "disconnect"), "Отключение…", nl,
         "Отключить", warn, false, toggle, 20s},
        {"disconnect pending for just under 20 s", snap("connected", 19.999, false, "disconnect"),
         "Отключение…", nl, "Отключить", warn, false, toggle, 20s},
        {"a mark of exactly 20 s has expired", snap("connected", 20, false, "disconnect"), "Защищено", nl,
         "Отключить", ok, true, toggle, 20s},
        {"connect pending", snap("disconnected", 0, false, "connect"), "Подключение…", nl, "Подключить", warn,
         false, toggle, 20s},
        {"an unknown pending text keeps the state's title", snap("connected", 5, false, "sideways"),
         "Защищено", nl, "Подключить", warn, false, toggle, 20s},

        {"update required, alive never said", snap("connected", 5, true, {}, std::nullopt), needed, open,
         "Отключить", warn, true, update, 60s},
        {"update required just under 300 s", snap("connected", 299.999, true), needed, open, "Отключить",
         warn, true, update, 60s},
        {"an update request of exactly 300 s has expired", snap("connected", 300, true), "Защищено", nl,
         "Отключить", ok, true, toggle, 60s},
        {"the application quit: never an update request", snap("disconnected", 1, true, {}, false),
         "Отключено", nl, "Подключить", low, true, toggle, 60s},
        {"an update request outranks a pending toggle", snap("disconnected", 1, true, "connect"), needed,
         open, "Подключить", warn, false, update, 20s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Snapshot& s = c.snapshot;
        EXPECT_EQ(WidgetRules::title(s, now), c.title);
        EXPECT_EQ(WidgetRules::subtitle(s, now), c.subtitle);
        EXPECT_EQ(WidgetRules::buttonTitle(s, now), c.button);
        EXPECT_EQ(WidgetRules::dotColour(s, now), c.dot);
        EXPECT_EQ(!WidgetRules::pendingActive(s, now), c.buttonEnabled);
        EXPECT_EQ(WidgetRules::tapURL(s, now), c.tap);
        EXPECT_EQ(WidgetRules::refreshAfter(s), c.refresh);
    }
}

const std::string connected =
    R"({"state":"connected","server":"Нидерланды","blocked":false,"updated":788918400,"alive":true})";
const std::string disconnected =
    R"({"state":"disconnected","server":"","blocked":false,"updated":788918999})";

TEST(WidgetFiles, TheSharedFolderIsTheApplicationsAndComesFirst) {
    test::TempDir dir;
    test::ScopedEnv home("HOME", dir / "home");
    test::ScopedEnv data("XDG_DATA_HOME", std::nullopt);
    struct Case {
        const char* platform;
        std::optional<std::string> root;
        std::optional<std::string> state;
        std::string shared;
    };
    const Case cases[] = {
        {"macos", std::nullopt, std::nullopt, "/Users/Shared/ORVEX"},
        {"macos", dir.path(), dir / "state", dir / "Users/Shared/ORVEX"},
        {"macos", dir.path() + "//", std::nullopt, dir / "Users/Shared/ORVEX"},
        {"macos", "/", std::nullopt, "/Users/Shared/ORVEX"},
        {"macos", "relative/root", std::nullopt, "/Users/Shared/ORVEX"},
        {"linux", dir.path(), std::nullopt, dir / "home/.local/state/orvex/widget"},
        {"linux", std::nullopt, dir / "state", dir / "state/orvex/widget"},
        {"linux", std::nullopt, "relative/state", dir / "home/.local/state/orvex/widget"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.platform) + " " + c.root.value_or("(no root)"));
        test::ScopedEnv platform("ORVEX_PLATFORM", c.platform);
        test::ScopedEnv root("ORVEX_ROOT", c.root);
        test::ScopedEnv state("XDG_STATE_HOME", c.state);
        EXPECT_EQ(WidgetFiles::sharedDir(), c.shared);
        EXPECT_EQ(WidgetFiles::candidates(),
                  (std::vector<std::string>{c.shared + "/widget-status.json",
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
    struct Case {
        const char* json;
        bool decodes;
        std::optional<std::string> pending;
        std::optional<bool> alive;
    };
    const Case cases[] = {
        {R"({"state":"connected","server":"A","blocked":false,"updated":1.5})", true, {}, {}},
        {R"({"state":"connected","server":"A","blocked":true,"updated":0,"pending":"connect","alive":false,"x":1})",
         true, "connect", false},
        {R"({"state":"connected","server":"A","blocked":false,"updated":0,"pending":null,"alive":null})",
         true,
         {},
         {}},
        {R"({"server":"A","blocked":false,"updated":0})", false, {}, {}},
        {R"({"state":"connected","server":"A","blocked":1,"updated":0})", false, {}, {}},
        {R"({"state":"connected","server":"A","blocked":false,"updated":"0"})", false, {}, {}},
        {R"({"state":"connected","server":null,"blocked":false,"updated":0})", false, {}, {}},
        {R"({"state":"connected","server":"A","blocked":false,"updated":0,"alive":"yes"})", false, {}, {}},
        {R"({"state":"connected","server":"A","blocked":false,"updated":0,"pending":7})", false, {}, {}},
        {R"({"state":"connected","server":"A","blocked":false,"updated":0} trailing)", false, {}, {}},
        {R"([{"state":"connected"}])", false, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        std::optional<Snapshot> snapshot = Snapshot::decode(c.json);
        ASSERT_EQ(snapshot.has_value(), c.decodes);
        if (!snapshot) continue;
        EXPECT_EQ(snapshot->pending, c.pending);
        EXPECT_EQ(snapshot->alive, c.alive);
    }
    // "updated" counts from 2001: the application's file of 2026-01-01 00:00:00 UTC is 0 s old then.
    Snapshot written = *Snapshot::decode(connected);
    EXPECT_EQ(written.age(now), 0);
    EXPECT_EQ(written.server, "Нидерланды");
    EXPECT_TRUE(Snapshot::unknown().age(std::chrono::system_clock::now()) > 1e10);
}

struct Driver {
    TimePoint now = orvex::widget::now;
    std::deque<std::pair<std::chrono::milliseconds, std::function<void()>>> waits;
    std::vector<std::string> opened;
    ToggleIntent intent{{
        .openURL = [this](const std::string& url) { opened.push_back(url); },
        .after = [this](std::chrono::milliseconds delay,
                        std::function<void()> step) { waits.emplace_back(delay, std::move(step)); },
        .now = [this] { return now; },
    }};

    // Lets the next wait end.
    void tick() {
        auto [delay, step] = std::move(waits.front());
        waits.pop_front();
        now += delay;
        step();
    }
};

TEST(ToggleIntent, LeavesACommandWaitsForTheApplicationAndFallsBackToTheLink) {
    struct Case {
        const char* what;
        bool folder;
        bool commandBlocked;              // a folder sits where the command file would go
        std::optional<int> appTakesAfter; // waits before the application deletes the command
        int waits;
        std::vector<std::string> opened;
    };
    const std::vector<std::string> link = {"orvexvpn://toggle"};
    const Case cases[] = {
        {"the application answers", true, false, 2, 3, {}},
        {"the application answers at the last check", true, false, 39, 40, {}},
        {"the application is silent", true, false, std::nullopt, 40, link},
        {"the application never ran here", false, false, std::nullopt, 0, link},
        {"the command cannot be written", true, true, std::nullopt, 0, link},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        test::ScopedEnv platform("ORVEX_PLATFORM", "linux");
        test::ScopedEnv state("XDG_STATE_HOME", dir / "state");
        const std::string folder = dir / "state/orvex/widget";
        const std::string command = folder + "/widget-command.json";
        if (c.folder) fs::create_directories(folder);
        if (c.commandBlocked) fs::create_directories(command + "/in-the-way");

        Driver driver;
        int finished = 0;
        driver.intent.perform([&] { ++finished; });
        if (c.waits > 0) {
            QJsonObject written =
                QJsonDocument::fromJson(QByteArray::fromStdString(test::readFile(command))).object();
            EXPECT_EQ(written.value("action").toString(), "toggle");
            EXPECT_EQ(written.value("id").toString().size(), 36);
            EXPECT_EQ(written.value("at").toDouble(), 1767225600.0);
        }
        int waits = 0;
        while (!driver.waits.empty()) {
            EXPECT_EQ(driver.opened.size(), 0u) << "never while waiting";
            driver.tick();
            if (++waits == c.appTakesAfter) fs::remove(command);
        }
        EXPECT_EQ(waits, c.waits);
        EXPECT_EQ(driver.now - now, c.waits * 100ms);
        EXPECT_EQ(driver.opened, c.opened);
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

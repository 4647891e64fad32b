#include "WidgetStatus.h"

#include "ModelFakes.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using namespace orvex;
using namespace std::chrono_literals;
using json = nlohmann::json;
namespace fs = std::filesystem;

namespace {

const std::chrono::system_clock::time_point newYear2026 =
    std::chrono::sys_days{std::chrono::year{2026} / 1 / 1};

bool exists(const std::string& path) { return fs::exists(fs::symlink_status(path)); }

// One shared folder, a clock the test moves, and counters for widget reloads and toggles.
struct Bridge {
    test::TempDir dir;
    std::chrono::system_clock::time_point now = newYear2026;
    int reloads = 0;
    int toggles = 0;
    WidgetStatus status{dir / "shared", 0777, [this] { ++reloads; }, [this] { return now; }};
    std::function<void()> toggle = [this] { ++toggles; };

    std::string statusPath() const { return dir / "shared/widget-status.json"; }
    std::string commandPath() const { return dir / "shared/widget-command.json"; }
    double updated() const { return std::chrono::duration<double>(now - newYear2026).count() + 788918400; }
    json file() const { return json::parse(test::readFile(statusPath())); }
    // A toggle command as the widget writes it, made `age` before now.
    std::string command(const std::string& id, std::chrono::seconds age = 0s) const {
        double at = std::chrono::duration<double>((now - age).time_since_epoch()).count();
        return json{{"action", "toggle"}, {"id", id}, {"at", at}}.dump();
    }
    void leave(const std::string& contents) { test::writeFile(commandPath(), contents); }
};

} // namespace

TEST(WidgetStatusTest, TheFileIsTheWidgetsRecordDatedFrom2001) {
    Bridge bridge;
    bridge.status.publish(TunnelState::connected, "Нидерланды", false);
    EXPECT_EQ(
        test::readFile(bridge.statusPath()),
        R"({"state":"connected","server":"Нидерланды","blocked":false,"updated":788918400,"alive":true})");

    WidgetStatus::Snapshot marked{"error", "", true, 0.25, "disconnect", false};
    EXPECT_EQ(
        marked.encode(),
        R"({"state":"error","server":"","blocked":true,"updated":0.25,"pending":"disconnect","alive":false})");
}

TEST(WidgetStatusTest, PublishWritesOnlyRealChanges) {
    struct Step {
        TunnelState state;
        std::string server;
        bool blocked;
        bool writes;
    } steps[] = {
        {TunnelState::connected, "NL", false, true},
        {TunnelState::connected, "NL", false, false}, // the once-a-second status poll
        {TunnelState::connected, "DE", false, true},  // the server alone changed
        {TunnelState::connected, "DE", true, true},   // a mandatory update arrived
        {TunnelState::connected, "DE", true, false},
        {TunnelState::disconnected, "DE", true, true},
    };
    Bridge bridge;
    double lastWrite = 0;
    int writes = 0;
    for (const auto& step : steps) {
        bridge.now += 1s;
        bridge.status.publish(step.state, step.server, step.blocked);
        if (step.writes) {
            ++writes;
            lastWrite = bridge.updated();
        }
        json file = bridge.file();
        EXPECT_EQ(bridge.reloads, writes);
        EXPECT_EQ(file["updated"], lastWrite);
        EXPECT_EQ(file["server"], step.server);
        EXPECT_EQ(file["blocked"], step.blocked);
    }
}

TEST(WidgetStatusTest, CommandFilesAreTakenOnlyWhenTheyAreFreshToggles) {
    enum Kind { file, fifo, folder, link };
    Bridge clock; // only for the commands' times
    struct Case {
        std::string name;
        std::string contents;
        Kind kind;
        int toggles;
        bool remains;
    } cases[] = {
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
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bridge bridge;
        bridge.status.targets();
        if (c.kind == file) bridge.leave(c.contents);
        if (c.kind == fifo) {
            ASSERT_EQ(::mkfifo(bridge.commandPath().c_str(), 0666), 0);
        }
        if (c.kind == folder) fs::create_directories(bridge.commandPath());
        if (c.kind == link) {
            test::writeFile(bridge.dir / "elsewhere.json", c.contents);
            fs::create_symlink(bridge.dir / "elsewhere.json", bridge.commandPath());
        }
        bridge.status.consumeCommand(bridge.toggle);
        EXPECT_EQ(bridge.toggles, c.toggles);
        EXPECT_EQ(exists(bridge.commandPath()), c.remains);
    }
}

TEST(WidgetStatusTest, EachCommandIdTogglesOnce) {
    Bridge bridge;
    for (const char* id : {"one", "one", "two"}) {
        bridge.leave(bridge.command(id));
        bridge.status.consumeCommand(bridge.toggle);
        EXPECT_FALSE(exists(bridge.commandPath())) << id;
    }
    EXPECT_EQ(bridge.toggles, 2);
}

TEST(WidgetStatusTest, AWidgetToggleMarksTheFileAndTheNextPublishClearsTheMark) {
    Bridge bridge;
    bridge.status.publish(TunnelState::connected, "NL", false);
    bridge.leave(bridge.command("a"));
    bridge.status.consumeCommand([&] { bridge.status.notePending(true); });
    EXPECT_EQ(bridge.file()["pending"], "disconnect");

    bridge.status.publish(TunnelState::connected, "NL", false); // the toggle changed nothing yet
    EXPECT_FALSE(bridge.file().contains("pending"));

    bridge.status.notePending(false);
    bridge.status.noteAppGone();
    json gone = bridge.file();
    EXPECT_EQ(gone["state"], "connected");
    EXPECT_EQ(gone["server"], "NL");
    EXPECT_EQ(gone["alive"], false);
    EXPECT_FALSE(gone.contains("pending"));
}

TEST(WidgetStatusTest, APendingMarkNeverOutlivesItsToggle) {
    struct Case {
        std::vector<std::chrono::seconds> heartbeatsAfter; // each after the one before
        bool toggleEnds;
        bool pending;
    } cases[] = {{{19s}, false, true}, {{15s, 5s}, false, false}, {{}, true, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        Bridge bridge;
        bridge.status.publish(TunnelState::disconnected, "NL", false);
        bridge.status.notePending(false);
        for (auto step : c.heartbeatsAfter) {
            bridge.now += step;
            bridge.status.heartbeat();
        }
        if (c.toggleEnds) bridge.status.clearPending();
        json file = bridge.file();
        EXPECT_EQ(file.contains("pending"), c.pending);
        EXPECT_EQ(file["updated"], bridge.updated());
        EXPECT_EQ(file["alive"], true);
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

TEST(WidgetStatusTest, TheTimerTakesCommandsBeforeAnythingIsPublished) {
    test::ensureQtApplication();
    Bridge bridge;
    bridge.now = std::chrono::system_clock::now();
    bridge.status.notePending(true); // each of these needs a published status first
    bridge.status.heartbeat();
    bridge.status.noteAppGone();
    bridge.status.watchCommands(bridge.toggle);
    bridge.leave(bridge.command("a"));
    EXPECT_TRUE(test::waitWithEvents([&] { return bridge.toggles == 1; }, 5s));
    EXPECT_FALSE(exists(bridge.commandPath()));
    EXPECT_FALSE(exists(bridge.statusPath()));
    EXPECT_EQ(bridge.reloads, 0);
}

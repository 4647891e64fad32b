// The application's side of the widget exchange against a scratch shared folder and a clock the
// test moves: the status file it writes and the command files it takes.
#include "WidgetStatus.h"

#include "ModelFakes.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>

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

} // namespace

TEST(WidgetStatusTest, TheFileIsTheWidgetsRecordAndIsWrittenOnlyOnRealChanges) {
    Bridge bridge;
    bridge.status.publish(TunnelState::connected, "Нидерланды", false);
    EXPECT_EQ(
        test::readFile(bridge.statusPath()),
        R"({"state":"connected","server":"Нидерланды","blocked":false,"updated":788918400,"alive":true})");
    EXPECT_EQ(
        (WidgetStatus::Snapshot{"error", "", true, 0.25, "disconnect", false}.encode()),
        R"({"state":"error","server":"","blocked":true,"updated":0.25,"pending":"disconnect","alive":false})");

    const std::tuple<TunnelState, std::string, bool, bool> steps[] = {
        // state, server, update required, whether it writes
        {TunnelState::connected, "NL", false, true},
        {TunnelState::connected, "NL", false, false}, // the once-a-second status poll
        {TunnelState::connected, "DE", false, true},  // the server alone changed
        {TunnelState::connected, "DE", true, true},   // a mandatory update arrived
        {TunnelState::connected, "DE", true, false},
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
    EXPECT_EQ(bridge.file(), (json{{"state", "connected"},
                                   {"server", "NL"},
                                   {"blocked", false},
                                   {"updated", bridge.updated()},
                                   {"alive", false}}));

    // Heartbeats after it (each after the one before), whether its toggle ends, and whether
    // the mark is still there.
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

TEST(WidgetStatusTest, TheTimerTakesCommandsBeforeAnythingIsPublished) {
    test::ensureWidgetApplication(); // the program's other tests need widgets
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

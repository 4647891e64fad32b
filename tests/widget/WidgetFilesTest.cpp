// Where the widget looks for the status file, what it accepts as one, and what it decodes.
#include "WidgetFiles.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>

#include "TestSupport.h"

namespace orvex::widget {
namespace {

namespace fs = std::filesystem;

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
    EXPECT_EQ(written.age(std::chrono::sys_days{std::chrono::year{2026} / 1 / 1}), 0);
    EXPECT_EQ(written.server, "Нидерланды");
    EXPECT_TRUE(Snapshot::unknown().age(std::chrono::system_clock::now()) > 1e10);
}

} // namespace
} // namespace orvex::widget

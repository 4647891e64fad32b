#include "Paths.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <sstream>
#include <vector>

#include "Platform.h"
#include "TestSupport.h"

using namespace orvex;
namespace fs = std::filesystem;

// Each location under both personalities, bare and with ORVEX_ROOT and the XDG folders set.
TEST(Paths, EveryLocationOfBothPersonalities) {
    struct Row {
        const char* name;
        std::function<std::string()> location;
        std::string macos, macosMoved, linux, linuxMoved;
    };
    const std::string home = "/home/anna", mac = "/Library/Application Support/ORVEX";
    const std::vector<Row> rows{
        {"socket", Paths::socket, "/var/run/orvex-vpn.sock", "/tmp/o/var/run/orvex-vpn.sock",
         "/run/orvex-vpn.sock", "/tmp/o/run/orvex-vpn.sock"},
        {"service program", Paths::daemonBinary, mac + "/orvexd", "/tmp/o" + mac + "/orvexd",
         "/opt/orvex/orvexd", "/tmp/o/opt/orvex/orvexd"},
        {"engine configuration", Paths::generatedConfig, mac + "/config.gen.json",
         "/tmp/o" + mac + "/config.gen.json", "/var/lib/orvex/config.gen.json",
         "/tmp/o/var/lib/orvex/config.gen.json"},
        {"service state", Paths::daemonStateDir, "/Library/Logs/ORVEX", "/tmp/o/Library/Logs/ORVEX",
         "/var/lib/orvex", "/tmp/o/var/lib/orvex"},
        {"service logs", Paths::daemonLogDir, "/Library/Logs/ORVEX", "/tmp/o/Library/Logs/ORVEX",
         "/var/log/orvex", "/tmp/o/var/log/orvex"},
        {"service job", Paths::daemonPlist, "/Library/LaunchDaemons/net.orvex.vpn.plist",
         "/tmp/o/Library/LaunchDaemons/net.orvex.vpn.plist", "/etc/systemd/system/orvexd.service",
         "/tmp/o/etc/systemd/system/orvexd.service"},
        {"application logs", Paths::appLogDir, home + "/Library/Logs/ORVEX", home + "/Library/Logs/ORVEX",
         home + "/.local/state/orvex/log", "/x/state/orvex/log"},
        {"application data", Paths::appSupportDir, home + "/Library/Application Support/ORVEX",
         home + "/Library/Application Support/ORVEX", home + "/.local/share/orvex", "/x/data/orvex"},
        {"widget files", Paths::sharedDir, "/Users/Shared/ORVEX", "/tmp/o/Users/Shared/ORVEX",
         home + "/.local/state/orvex/widget", "/x/state/orvex/widget"},
        {"widget folder mode",
         [] { return (std::ostringstream() << std::oct << Paths::sharedDirMode()).str(); }, "777", "777",
         "700", "700"},
        {"ping", [] { return Platform::current().pingProgram; }, "/sbin/ping", "/tmp/o/sbin/ping",
         "/usr/bin/ping", "/tmp/o/usr/bin/ping"},
        {"system engine", [] { return Platform::current().systemEngine; }, "", "", "/usr/bin/v2ray",
         "/tmp/o/usr/bin/v2ray"},
    };
    test::ScopedEnv user("HOME", home);
    for (const char* platform : {"macos", "linux"}) {
        test::ScopedEnv chosen("ORVEX_PLATFORM", platform);
        for (bool moved : {false, true}) {
            test::ScopedEnv root("ORVEX_ROOT", moved ? std::optional<std::string>("/tmp/o/") : std::nullopt);
            // A relative XDG folder is no folder at all: the default stands.
            test::ScopedEnv state("XDG_STATE_HOME", moved ? "/x/state" : "x/state");
            test::ScopedEnv data("XDG_DATA_HOME",
                                 moved ? std::optional<std::string>("/x/data") : std::nullopt);
            for (const Row& row : rows) {
                bool mac = std::string(platform) == "macos";
                const std::string& expected =
                    mac ? (moved ? row.macosMoved : row.macos) : (moved ? row.linuxMoved : row.linux);
                EXPECT_EQ(row.location(), expected)
                    << row.name << ", " << platform << (moved ? ", moved" : "");
            }
        }
    }
    {
        // A relative root would scatter files around the working folder: ignored. So is a
        // personality nobody knows, which leaves the build's own.
        test::ScopedEnv root("ORVEX_ROOT", "relative/root");
        test::ScopedEnv chosen("ORVEX_PLATFORM", "windows");
        EXPECT_EQ(Paths::socket(), "/run/orvex-vpn.sock");
    }
}

TEST(Paths, EngineDirPrefersBundleResources) {
    test::TempDir dir;
    std::string app = dir / "ORVEX.app/Contents";
    fs::create_directories(app + "/MacOS");
    fs::create_directories(app + "/Resources");
    test::writeFile(app + "/MacOS/ORVEX", "", 0755);
    EXPECT_EQ(Paths::engineDir(app + "/MacOS/ORVEX"), app + "/Resources/engine");

    std::string daemon = dir / "Library/Application Support/ORVEX";
    fs::create_directories(daemon);
    test::writeFile(daemon + "/orvexd", "", 0755);
    EXPECT_EQ(Paths::engineDir(daemon + "/orvexd"), daemon + "/engine");

    // Reached through a link elsewhere, the target's folder counts.
    fs::create_symlink(app + "/MacOS/ORVEX", dir / "orvex-link");
    EXPECT_EQ(Paths::engineDir(dir / "orvex-link"), app + "/Resources/engine");
}

TEST(Paths, EnsureDirNeverFails) {
    test::TempDir dir;
    Paths::ensureDir(dir / "a/b/c");
    EXPECT_TRUE(fs::is_directory(dir / "a/b/c"));
    Paths::ensureDir(dir / "a/b/c");
    test::writeFile(dir / "file", "x");
    EXPECT_NO_THROW(Paths::ensureDir(dir / "file/below"));
}

TEST(Paths, ExecutableIsThisTestProgram) {
    auto self = Paths::executable();
    EXPECT_TRUE(fs::path(self).is_absolute());
    EXPECT_EQ(fs::path(self).filename(), "core_base");
}

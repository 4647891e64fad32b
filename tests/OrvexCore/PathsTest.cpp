#include "Paths.h"

#include <filesystem>
#include <gtest/gtest.h>

#include "TestSupport.h"

using namespace orvex;
namespace fs = std::filesystem;

TEST(Paths, FixedLocationsFollowOrvexRootAndHome) {
    {
        test::ScopedEnv root("ORVEX_ROOT", std::nullopt);
        test::ScopedEnv home("HOME", "/Users/anna");
        EXPECT_EQ(Paths::socket(), "/var/run/orvex-vpn.sock");
        EXPECT_EQ(Paths::daemonPlist(), "/Library/LaunchDaemons/net.orvex.vpn.plist");
        EXPECT_EQ(Paths::daemonLogDir(), "/Library/Logs/ORVEX");
        EXPECT_EQ(Paths::daemonBinary(), "/Library/Application Support/ORVEX/orvexd");
        EXPECT_EQ(Paths::generatedConfig(), "/Library/Application Support/ORVEX/config.gen.json");
        EXPECT_EQ(Paths::appLogDir(), "/Users/anna/Library/Logs/ORVEX");
        EXPECT_EQ(Paths::appSupportDir(), "/Users/anna/Library/Application Support/ORVEX");
        EXPECT_EQ(Paths::relocate("/sbin/route"), "/sbin/route");
        EXPECT_EQ(Paths::daemonLabel(), "net.orvex.vpn");
    }
    {
        test::ScopedEnv root("ORVEX_ROOT", "/tmp/o/");
        EXPECT_EQ(Paths::socket(), "/tmp/o/var/run/orvex-vpn.sock");
        EXPECT_EQ(Paths::relocate("/sbin/route"), "/tmp/o/sbin/route");
        EXPECT_EQ(Paths::sharedDir(), "/tmp/o/Users/Shared/ORVEX");
        EXPECT_EQ(Paths::applicationBundle(), "/tmp/o/Applications/ORVEX.app");
    }
    {
        // A relative root would scatter files around the working folder: ignored.
        test::ScopedEnv root("ORVEX_ROOT", "relative/root");
        EXPECT_EQ(Paths::socket(), "/var/run/orvex-vpn.sock");
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

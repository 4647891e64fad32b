#include "LaunchdService.h"

#include "ChildProcess.h"
#include "FakeMacTools.h"
#include "InstallerRun.h"
#include "Paths.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace orvex;
using namespace orvex::test;

namespace {

std::string jobFile(const std::string& root) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n"
           "<dict>\n"
           "    <key>Label</key>\n"
           "    <string>net.orvex.vpn</string>\n"
           "    <key>ProgramArguments</key>\n"
           "    <array>\n"
           "        <string>" +
           root +
           "/Library/Application Support/ORVEX/orvexd</string>\n"
           "        <string>-service</string>\n"
           "    </array>\n"
           "    <key>RunAtLoad</key>\n"
           "    <true/>\n"
           "    <key>KeepAlive</key>\n"
           "    <true/>\n"
           "</dict>\n"
           "</plist>";
}

// A machine with the fake launchctl and an application bundle whose executable plays the
// installer roles, with the engine files as a user's download leaves them.
class Launchd : public ::testing::Test {
protected:
    TempDir dir;
    ScopedEnv root{"ORVEX_ROOT", dir.path()};
    ScopedEnv home{"HOME", dir / "home"};
    FakeMacTools tools{dir.path()};
    std::string bundle = dir / "Downloads/ORVEX.app";
    std::string program = bundle + "/Contents/MacOS/ORVEX";
    std::string engine = bundle + "/Contents/Resources/engine";

    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "installing the service gives files to root";
        fs::create_directories(fs::path(program).parent_path());
        fs::copy_file(ORVEX_EXECUTABLE, program);
        writeFile(engine + "/xray", "xray", 0700);
        writeFile(engine + "/tun2socks", "tun2socks", 0700);
        writeFile(engine + "/geoip.dat", "geoip", 0600);
        writeFile(engine + "/geosite.dat", "geosite", 0640);
        for (const auto& entry : fs::directory_iterator(engine)) lchown(entry.path().c_str(), 1234, 1234);
    }

    RoleRun run(const std::string& role) { return runRole(program, role, dir.path()); }

    std::map<std::string, std::string> installed() const {
        auto files = inventory(Paths::daemonHome());
        for (const auto& [path, attributes] : inventory(dir / "Library/LaunchDaemons"))
            files["LaunchDaemons/" + path] = attributes;
        return files;
    }
};

} // namespace

TEST_F(Launchd, InstallsTwiceAndUninstallsWithoutATrace) {
    // A link in the engine folder is given to root itself; what it points to is left alone.
    writeFile(dir / "elsewhere.txt", "not ours", 0600);
    lchown((dir / "elsewhere.txt").c_str(), 1234, 1234);
    fs::create_symlink(dir / "elsewhere.txt", engine + "/latest.dat");

    RoleRun first = run("-install-service");
    ASSERT_EQ(first.code, 0) << first.error;
    EXPECT_EQ(first.output + first.error, "");
    std::map<std::string, std::string> expected{
        {"orvexd", "0:0 0755"},
        {"engine", "0:0 0755"},
        {"engine/xray", "0:0 0755"},
        {"engine/tun2socks", "0:0 0755"},
        {"engine/geoip.dat", "0:0 0644"},
        {"engine/geosite.dat", "0:0 0644"},
        {"engine/latest.dat", "0:0 0777 link"},
        {"LaunchDaemons/net.orvex.vpn.plist", "0:0 0644"},
    };
    EXPECT_EQ(installed(), expected);
    EXPECT_EQ(readFile(Paths::daemonBinary()), readFile(program));
    EXPECT_EQ(readFile(Paths::daemonHome() + "/engine/geosite.dat"), "geosite");
    EXPECT_EQ(readFile(Paths::daemonPlist()), jobFile(dir.path()));
    struct stat target {};
    stat((dir / "elsewhere.txt").c_str(), &target);
    EXPECT_EQ(target.st_uid, 1234u);
    EXPECT_EQ(target.st_mode & 07777, 0600u);
    std::string plist = Paths::daemonPlist();
    EXPECT_EQ(tools.calls("launchctl"), (std::vector<std::string>{"launchctl bootout system/net.orvex.vpn",
                                                                  "launchctl unload -w " + plist,
                                                                  "launchctl print system/net.orvex.vpn",
                                                                  "launchctl bootstrap system " + plist}));
    EXPECT_TRUE(tools.jobs().contains("net.orvex.vpn"));

    // The second run replaces the engine folder rather than merging into it.
    fs::remove(engine + "/latest.dat");
    fs::remove(engine + "/geosite.dat");
    size_t before = tools.calls("launchctl").size();
    RoleRun second = run("-install-service");
    ASSERT_EQ(second.code, 0) << second.error;
    expected.erase("engine/latest.dat");
    expected.erase("engine/geosite.dat");
    EXPECT_EQ(installed(), expected);
    auto calls = tools.calls("launchctl");
    EXPECT_EQ(std::vector<std::string>(calls.begin() + static_cast<long>(before), calls.end()),
              (std::vector<std::string>{"launchctl bootout system/net.orvex.vpn",
                                        "launchctl print system/net.orvex.vpn",
                                        "launchctl bootstrap system " + plist}));

    RoleRun removed = run("-uninstall-service");
    ASSERT_EQ(removed.code, 0) << removed.error;
    EXPECT_EQ(installed(), (std::map<std::string, std::string>{}));
    EXPECT_FALSE(fs::exists(Paths::daemonHome()));
    EXPECT_EQ(tools.jobs(), nlohmann::json::object());
    RoleRun again = run("-uninstall-service");
    EXPECT_EQ(again.code, 0) << again.error;
}

TEST_F(Launchd, ReportsAnIncompleteEngineOnOneLine) {
    fs::remove(engine + "/tun2socks");
    RoleRun missingProgram = run("-install-service");
    EXPECT_EQ(missingProgram.code, 1);
    EXPECT_EQ(missingProgram.error, "в движке нет tun2socks\n");
    EXPECT_EQ(missingProgram.output, "");
    EXPECT_TRUE(tools.calls("launchctl").empty());

    fs::remove_all(engine);
    RoleRun missingEngine = run("-install-service");
    EXPECT_EQ(missingEngine.code, 1);
    EXPECT_EQ(missingEngine.error, "не найден движок рядом с приложением: " + engine + "\n");
}

TEST_F(Launchd, RetriesBootstrapThenFallsBackToLoad) {
    // A fresh install calls bootout, unload and print before its first bootstrap (call 4).
    tools.failAt("launchctl", 4);
    tools.failAt("launchctl", 5);
    auto started = std::chrono::steady_clock::now();
    RoleRun third = run("-install-service");
    EXPECT_EQ(third.code, 0) << third.error;
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1900));
    EXPECT_EQ(tools.calls("launchctl").size(), 6u);
    EXPECT_TRUE(tools.jobs().contains("net.orvex.vpn"));

    tools.setJobs(nlohmann::json::object());
    tools.clearFailures();
    for (size_t call : {10, 11, 12}) tools.failAt("launchctl", call);
    RoleRun loaded = run("-install-service");
    EXPECT_EQ(loaded.code, 0) << loaded.error;
    EXPECT_EQ(tools.calls("launchctl").back(), "launchctl load -w " + Paths::daemonPlist());
    EXPECT_TRUE(tools.jobs().contains("net.orvex.vpn"));

    tools.setJobs(nlohmann::json::object());
    for (size_t call : {17, 18, 19, 20}) tools.failAt("launchctl", call);
    RoleRun refused = run("-install-service");
    EXPECT_EQ(refused.code, 1);
    EXPECT_EQ(refused.error,
              "launchctl не принял задание: Bootstrap failed: 5: Input/output error / Load failed: 5: "
              "Input/output error\n");
}

TEST_F(Launchd, RefreshesTheServiceFilesAndRestartsIt) {
    FakeMacTools::makeApplication(dir / "Applications/ORVEX.app", "1.5.0");
    LaunchdService::refreshBinaries(dir / "Applications/ORVEX.app/Contents/MacOS/ORVEX");
    EXPECT_EQ(readFile(Paths::daemonBinary()), readFile(dir / "Applications/ORVEX.app/Contents/MacOS/ORVEX"));
    EXPECT_EQ(inventory(Paths::daemonHome() + "/engine").size(), 4u);
    EXPECT_TRUE(tools.calls().empty());
    EXPECT_FALSE(fs::exists(Paths::daemonPlist()));

    ChildProcess service = ChildProcess::spawn("/bin/sleep", {"60"});
    tools.setJobs({{"net.orvex.vpn",
                    {{"plist", Paths::daemonPlist()}, {"program", {"orvexd"}}, {"pid", service.pid()}}}});
    LaunchdService::restartService();
    EXPECT_TRUE(service.waitFor(std::chrono::seconds(10)));
    EXPECT_EQ(tools.calls(), std::vector<std::string>{"launchctl kill TERM system/net.orvex.vpn"});

    tools.failAt("launchctl", 2);
    LaunchdService::restartService();
    EXPECT_EQ(tools.calls().back(), "launchctl kickstart -k system/net.orvex.vpn");
}

TEST_F(Launchd, CopiesWhatLinksNameAndNeverWritesThroughThem) {
    // The engine folder is a link to the user's own copy, and a stray link waits where the
    // service's program goes: root must neither run programs from a folder the user can change,
    // nor take the user's files, nor write where the stray link points.
    fs::rename(engine, dir / "my-engine");
    fs::create_symlink(dir / "my-engine", engine);
    fs::create_directories(Paths::daemonHome());
    fs::create_symlink(dir / "elsewhere", Paths::daemonBinary());

    RoleRun installedRun = run("-install-service");
    ASSERT_EQ(installedRun.code, 0) << installedRun.error;
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "elsewhere")));
    EXPECT_EQ(inventory(Paths::daemonHome()),
              (std::map<std::string, std::string>{{"orvexd", "0:0 0755"},
                                                  {"engine", "0:0 0755"},
                                                  {"engine/xray", "0:0 0755"},
                                                  {"engine/tun2socks", "0:0 0755"},
                                                  {"engine/geoip.dat", "0:0 0644"},
                                                  {"engine/geosite.dat", "0:0 0644"}}));
    struct stat original {};
    ASSERT_EQ(lstat((dir / "my-engine/xray").c_str(), &original), 0);
    EXPECT_EQ(original.st_uid, 1234u);
    EXPECT_EQ(original.st_mode & 07777, 0700u);
}

// The installer roles through the real executable, as root: what a user downloaded is given to
// root without following or writing through links, and launchd (the fake launchctl) or systemd
// (the fake systemctl, which runs the installed service for real) is asked to run the service.
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <unistd.h>

#include "ChildProcess.h"
#include "DaemonClient.h"
#include "FakeMacTools.h"
#include "Paths.h"
#include "TestSupport.h"

namespace fs = std::filesystem;
using namespace orvex;
using namespace orvex::test;

namespace {

// What one run of an installer role left behind.
struct RoleRun {
    int code = -1;
    std::string output, error;
    bool operator==(const RoleRun&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const RoleRun& run) {
        return out << run.code << " [" << run.output << "] [" << run.error << "]";
    }
};
const RoleRun succeeded{0, "", ""};

// Owner, group and mode of every entry under `folder` by path relative to it, links as links,
// one entry a line.
std::string inventory(const std::string& folder) {
    std::map<std::string, std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        struct stat info {};
        lstat(entry.path().c_str(), &info);
        char text[64];
        snprintf(text, sizeof text, " %u:%u %04o%s\n", info.st_uid, info.st_gid, info.st_mode & 07777,
                 S_ISLNK(info.st_mode) ? " link" : "");
        found[entry.path().lexically_relative(folder).string()] = text;
    }
    std::string lines;
    for (const auto& [path, attributes] : found) lines += path + attributes;
    return lines;
}

// A scratch machine where a user has just downloaded the program: `program` and its `engine`
// folder, as the user's files.
class Installer : public ::testing::Test {
protected:
    TempDir dir;
    ScopedEnv root{"ORVEX_ROOT", dir.path()};
    ScopedEnv home{"HOME", dir / "home"};
    std::string program, engine;

    void download(const std::string& at, const std::string& engineAt,
                  const std::map<std::string, unsigned>& files) {
        if (geteuid() != 0) GTEST_SKIP() << "installing the service gives files to root";
        program = at;
        engine = engineAt;
        fs::create_directories(fs::path(program).parent_path());
        fs::copy_file(ORVEX_EXECUTABLE, program);
        fs::create_directories(engine);
        for (const auto& [name, mode] : files) {
            writeFile(engine + "/" + name, name.substr(0, name.find('.')), mode);
            lchown((engine + "/" + name).c_str(), 1234, 1234);
        }
    }
    RoleRun run(const std::string& role) {
        ChildProcess::Options options;
        options.output = ChildProcess::Redirect::toFile(dir / "out.txt", true);
        options.error = ChildProcess::Redirect::toFile(dir / "err.txt", true);
        int code = ChildProcess::spawn(program, {role}, options).wait();
        return {code, readFile(dir / "out.txt"), readFile(dir / "err.txt")};
    }
};

// The fake launchctl, and the application bundle as the user's download leaves it.
class Launchd : public Installer {
protected:
    FakeMacTools tools{dir.path()};

    void SetUp() override {
        std::string bundle = dir / "Downloads/ORVEX.app";
        download(bundle + "/Contents/MacOS/ORVEX", bundle + "/Contents/Resources/engine",
                 {{"xray", 0700}, {"tun2socks", 0700}, {"geoip.dat", 0600}, {"geosite.dat", 0640}});
    }
    std::vector<std::string> launchctl(size_t from = 0) {
        auto calls = tools.calls("launchctl");
        return {calls.begin() + static_cast<long>(from), calls.end()};
    }
};

// A Linux machine with systemd running (its marker folder), the fake systemctl, and the
// program as a user's unpacked download leaves it: orvex with its engine folder beside it.
class Systemd : public Installer {
protected:
    ScopedEnv platform{"ORVEX_PLATFORM", "linux"};
    FakeTools tools{dir.path(), "fake-linux", {{"systemctl", "/usr/bin/systemctl"}}};

    void SetUp() override {
        fs::create_directories(dir / "run/systemd/system");
        download(dir / "Downloads/orvex/orvex", dir / "Downloads/orvex/engine",
                 {{"xray", 0700}, {"geoip.dat", 0600}});
    }
    // The service the fake systemctl started must not outlive the test.
    void TearDown() override {
        auto units = nlohmann::json::parse(readFile(tools.folder() + "/units.json"), nullptr, false);
        if (!units.is_object() || !units.contains("pids")) return;
        for (const auto& [unit, pid] : units["pids"].items()) ::kill(pid.get<pid_t>(), SIGKILL);
    }
    std::vector<std::string> systemctl(size_t from = 0) {
        auto calls = tools.calls();
        return {calls.begin() + static_cast<long>(std::min(from, calls.size())), calls.end()};
    }
};

} // namespace

TEST_F(Launchd, InstallsTwiceAndUninstallsWithoutATrace) {
    // The engine folder is a link to the user's own copy, a link in it points at a file of the
    // user's, and a stray link waits where the service's program goes: root must neither run
    // programs from a folder the user can change, nor take the user's files, nor write where
    // a link points. A link in the engine folder is given to root itself.
    writeFile(dir / "elsewhere.txt", "not ours", 0600);
    lchown((dir / "elsewhere.txt").c_str(), 1234, 1234);
    fs::create_symlink(dir / "elsewhere.txt", engine + "/latest.dat");
    fs::rename(engine, dir / "my-engine");
    fs::create_symlink(dir / "my-engine", engine);
    fs::create_directories(Paths::daemonHome());
    fs::create_symlink(dir / "stray", Paths::daemonBinary());

    EXPECT_EQ(run("-install-service"), succeeded);
    std::string programs = "engine 0:0 0755\nengine/geoip.dat 0:0 0644\n",
                more = "engine/geosite.dat 0:0 0644\n";
    std::string rest = "engine/tun2socks 0:0 0755\nengine/xray 0:0 0755\norvexd 0:0 0755\n";
    EXPECT_EQ(inventory(Paths::daemonHome()), programs + more + "engine/latest.dat 0:0 0777 link\n" + rest);
    EXPECT_EQ(inventory(dir / "Library/LaunchDaemons"), "net.orvex.vpn.plist 0:0 0644\n");
    EXPECT_EQ(readFile(Paths::daemonBinary()), readFile(program));
    EXPECT_EQ(readFile(Paths::daemonHome() + "/engine/geosite.dat"), "geosite");
    // What launchd runs and that it keeps it running.
    EXPECT_EQ(tools.jobs()["net.orvex.vpn"]["program"],
              nlohmann::json::array({Paths::daemonBinary(), "-service"}));
    for (const char* key : {"RunAtLoad", "KeepAlive"})
        EXPECT_NE(readFile(Paths::daemonPlist()).find(std::string("<key>") + key + "</key>\n    <true/>"),
                  std::string::npos)
            << key;
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "stray")));
    for (std::string path : {dir / "elsewhere.txt", dir / "my-engine/xray"}) {
        struct stat original {};
        ASSERT_EQ(lstat(path.c_str(), &original), 0);
        EXPECT_EQ(original.st_uid, 1234u) << path;
        EXPECT_EQ(original.st_mode & 07777, path.ends_with("xray") ? 0700u : 0600u) << path;
    }
    std::string plist = Paths::daemonPlist();
    EXPECT_EQ(launchctl(), (std::vector<std::string>{"launchctl bootout system/net.orvex.vpn",
                                                     "launchctl unload -w " + plist,
                                                     "launchctl print system/net.orvex.vpn",
                                                     "launchctl bootstrap system " + plist}));

    // The second run replaces the engine folder rather than merging into it.
    fs::remove(engine + "/latest.dat");
    fs::remove(engine + "/geosite.dat");
    EXPECT_EQ(run("-install-service"), succeeded);
    EXPECT_EQ(inventory(Paths::daemonHome()), programs + rest);
    EXPECT_EQ(launchctl(4), (std::vector<std::string>{"launchctl bootout system/net.orvex.vpn",
                                                      "launchctl print system/net.orvex.vpn",
                                                      "launchctl bootstrap system " + plist}));

    EXPECT_EQ(run("-uninstall-service"), succeeded);
    EXPECT_FALSE(fs::exists(Paths::daemonHome()));
    EXPECT_FALSE(fs::exists(plist));
    EXPECT_EQ(tools.jobs(), nlohmann::json::object());
    EXPECT_EQ(run("-uninstall-service"), succeeded);
}

TEST_F(Launchd, RefusesAnIncompleteEngineAndRetriesBootstrapThenFallsBackToLoad) {
    fs::rename(engine + "/tun2socks", dir / "tun2socks");
    EXPECT_EQ(run("-install-service"), (RoleRun{1, "", "в движке нет tun2socks\n"}));
    EXPECT_TRUE(launchctl().empty());
    fs::rename(dir / "tun2socks", engine + "/tun2socks");

    // A fresh install calls bootout, unload and print before its first bootstrap (call 4).
    tools.failAt("launchctl", 4);
    tools.failAt("launchctl", 5);
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(run("-install-service"), succeeded);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1900));
    EXPECT_EQ(launchctl().size(), 6u);
    EXPECT_TRUE(tools.jobs().contains("net.orvex.vpn"));

    tools.setJobs(nlohmann::json::object());
    tools.clearFailures();
    for (size_t call : {10, 11, 12}) tools.failAt("launchctl", call);
    EXPECT_EQ(run("-install-service"), succeeded);
    EXPECT_EQ(launchctl().back(), "launchctl load -w " + Paths::daemonPlist());
    EXPECT_TRUE(tools.jobs().contains("net.orvex.vpn"));

    tools.setJobs(nlohmann::json::object());
    for (size_t call : {17, 18, 19, 20}) tools.failAt("launchctl", call);
    EXPECT_EQ(run("-install-service"),
              (RoleRun{1, "",
                       "launchctl не принял задание: Bootstrap failed: 5: Input/output "
                       "error / Load failed: 5: Input/output error\n"}));
}

TEST_F(Systemd, InstallsAnswersReinstallsAndUninstalls) {
    // A stray link waits where the program goes, and one in the engine folder points at a
    // file of the user's: neither is written through nor followed.
    fs::create_directories(dir / "opt/orvex");
    fs::create_symlink(dir / "elsewhere", dir / "opt/orvex/orvexd");
    writeFile(dir / "mine.txt", "not ours", 0600);
    fs::create_symlink(dir / "mine.txt", engine + "/latest.dat");

    EXPECT_EQ(run("-install-service"), succeeded);
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "elsewhere")));
    EXPECT_EQ(inventory(dir / "opt/orvex"),
              "engine 0:0 0755\nengine/geoip.dat 0:0 0644\nengine/latest.dat 0:0 "
              "0777 link\nengine/xray 0:0 0755\norvexd 0:0 0755\n");
    EXPECT_EQ(readFile(dir / "mine.txt"), "not ours");
    EXPECT_EQ(inventory(dir / "etc/systemd/system"), "orvexd.service 0:0 0644\n");
    // What it runs is checked by its running; that systemd keeps it running and starts it at boot:
    for (const char* line :
         {"\nAfter=network-online.target\n", "\nRestart=always\n", "\nWantedBy=multi-user.target\n"})
        EXPECT_NE(readFile(Paths::daemonPlist()).find(line), std::string::npos) << line;
    EXPECT_EQ(systemctl(),
              (std::vector<std::string>{"systemctl is-active --quiet orvexd", "systemctl daemon-reload",
                                        "systemctl enable --now orvexd"}));
    ASSERT_TRUE(waitUntil([] { return DaemonClient::isRunning(); }))
        << readFile(dir / "fake-linux/orvexd.service.out");
    EXPECT_TRUE(fs::exists(dir / "var/log/orvex"));

    // Installing packages is the package manager's work, not the service's.
    try {
        DaemonClient::installUpdate("1.5.0");
        FAIL() << "the service took an update";
    } catch (const DaemonError& error) {
        EXPECT_STREQ(error.what(),
                     "на Linux новую версию ставит менеджер пакетов, служба её не устанавливает");
    }

    // A second install restarts the running service on the new files.
    EXPECT_EQ(run("-install-service"), succeeded);
    EXPECT_EQ(systemctl().back(), "systemctl restart orvexd");
    ASSERT_TRUE(waitUntil([] { return DaemonClient::isRunning(); }));

    size_t before = systemctl().size();
    EXPECT_EQ(run("-uninstall-service"), succeeded);
    EXPECT_EQ(systemctl(before),
              (std::vector<std::string>{"systemctl disable --now orvexd", "systemctl daemon-reload"}));
    EXPECT_FALSE(DaemonClient::isRunning());
    EXPECT_FALSE(fs::exists(dir / "opt/orvex"));
    EXPECT_FALSE(fs::exists(Paths::daemonPlist()));
    EXPECT_EQ(run("-uninstall-service").code, 0);
}

TEST_F(Systemd, RefusesWithoutSystemdAndReportsSystemctl) {
    fs::remove(dir / "run/systemd/system");
    EXPECT_EQ(run("-install-service"),
              (RoleRun{1, "",
                       "systemd не запущен на этой машине (нет " + dir.path() +
                           "/run/systemd/system): службу ORVEX некому запускать\n"}));
    EXPECT_FALSE(fs::exists(dir / "opt/orvex"));
    EXPECT_TRUE(systemctl().empty());

    // Without an engine folder the system's v2ray will serve; systemctl's refusal is the error line.
    fs::create_directories(dir / "run/systemd/system");
    fs::remove_all(engine);
    tools.failAt("systemctl", 3);
    EXPECT_EQ(run("-install-service"),
              (RoleRun{1, "", "systemctl не принял службу: Failed to enable: Input/output error\n"}));
    EXPECT_EQ(inventory(dir / "opt/orvex"), "orvexd 0:0 0755\n");
}

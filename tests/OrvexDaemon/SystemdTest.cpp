// The installer roles of the Linux personality through the real executable, with the fake
// systemctl starting and stopping the installed service for real.
#include "SystemdService.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>
#include <unistd.h>

#include "DaemonClient.h"
#include "InstallerRun.h"
#include "Paths.h"
#include "TestSupport.h"

namespace fs = std::filesystem;
using namespace orvex;
using namespace orvex::test;

namespace {

// A Linux machine with systemd running (its marker folder), the fake systemctl, and the
// program as a user's unpacked download leaves it: orvex with its engine folder beside it.
class Systemd : public ::testing::Test {
protected:
    TempDir dir;
    ScopedEnv root{"ORVEX_ROOT", dir.path()};
    ScopedEnv home{"HOME", dir / "home"};
    ScopedEnv platform{"ORVEX_PLATFORM", "linux"};
    std::string program = dir / "Downloads/orvex/orvex";
    std::string engine = dir / "Downloads/orvex/engine";

    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "installing the service gives files to root";
        fs::create_directories(dir / "run/systemd/system");
        fs::create_directories(dir / "usr/bin");
        fs::create_symlink(fixture("systemctl"), dir / "usr/bin/systemctl");
        fs::create_directories(engine);
        fs::copy_file(ORVEX_EXECUTABLE, program);
        writeFile(engine + "/xray", "xray", 0700);
        writeFile(engine + "/geoip.dat", "geoip", 0600);
    }

    // The service the fake systemctl started must not outlive the test.
    void TearDown() override { stopFakeUnits(dir.path()); }

    RoleRun run(const std::string& role) { return runRole(program, role, dir.path()); }

    std::vector<std::string> calls() {
        std::vector<std::string> lines;
        std::istringstream log(readFile(dir / "fake-linux/calls.log"));
        for (std::string line; std::getline(log, line);) {
            std::string joined;
            for (const auto& word : nlohmann::json::parse(line))
                joined += (joined.empty() ? "" : " ") + word.get<std::string>();
            lines.push_back(joined);
        }
        return lines;
    }
};

} // namespace

TEST_F(Systemd, InstallsAnswersReinstallsAndUninstalls) {
    // A stray link waits where the program goes, and one in the engine folder points at a
    // file of the user's: neither is written through nor followed.
    fs::create_directories(dir / "opt/orvex");
    fs::create_symlink(dir / "elsewhere", dir / "opt/orvex/orvexd");
    writeFile(dir / "mine.txt", "not ours", 0600);
    fs::create_symlink(dir / "mine.txt", engine + "/latest.dat");

    RoleRun first = run("-install-service");
    ASSERT_EQ(first.code, 0) << first.error;
    EXPECT_EQ(first.output + first.error, "");
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "elsewhere")));
    EXPECT_EQ(inventory(dir / "opt/orvex"), (std::map<std::string, std::string>{
                                                {"orvexd", "0:0 0755"},
                                                {"engine", "0:0 0755"},
                                                {"engine/xray", "0:0 0755"},
                                                {"engine/geoip.dat", "0:0 0644"},
                                                {"engine/latest.dat", "0:0 0777 link"},
                                            }));
    EXPECT_EQ(readFile(dir / "mine.txt"), "not ours");
    EXPECT_EQ(inventory(dir / "etc/systemd/system"),
              (std::map<std::string, std::string>{{"orvexd.service", "0:0 0644"}}));
    EXPECT_EQ(readFile(Paths::daemonPlist()), "[Unit]\n"
                                              "Description=ORVEX VPN service\n"
                                              "After=network-online.target\n"
                                              "Wants=network-online.target\n"
                                              "\n"
                                              "[Service]\n"
                                              "ExecStart=" +
                                                  dir.path() +
                                                  "/opt/orvex/orvexd -service\n"
                                                  "Restart=always\n"
                                                  "\n"
                                                  "[Install]\n"
                                                  "WantedBy=multi-user.target\n");
    EXPECT_EQ(calls(),
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
        EXPECT_EQ(std::string(error.what()),
                  "на Linux новую версию ставит менеджер пакетов, служба её не устанавливает");
    }

    // A second install restarts the running service on the new files.
    RoleRun second = run("-install-service");
    ASSERT_EQ(second.code, 0) << second.error;
    EXPECT_EQ(calls().back(), "systemctl restart orvexd");
    ASSERT_TRUE(waitUntil([] { return DaemonClient::isRunning(); }));

    size_t before = calls().size();
    RoleRun removed = run("-uninstall-service");
    ASSERT_EQ(removed.code, 0) << removed.error;
    std::vector<std::string> all = calls();
    EXPECT_EQ(std::vector<std::string>(all.begin() + static_cast<long>(before), all.end()),
              (std::vector<std::string>{"systemctl disable --now orvexd", "systemctl daemon-reload"}));
    EXPECT_FALSE(DaemonClient::isRunning());
    EXPECT_FALSE(fs::exists(dir / "opt/orvex"));
    EXPECT_FALSE(fs::exists(Paths::daemonPlist()));
    EXPECT_EQ(run("-uninstall-service").code, 0);
}

TEST_F(Systemd, RefusesWithoutSystemdAndReportsSystemctl) {
    fs::remove(dir / "run/systemd/system");
    RoleRun without = run("-install-service");
    EXPECT_EQ(without.code, 1);
    EXPECT_EQ(without.error, "systemd не запущен на этой машине (нет " + dir.path() +
                                 "/run/systemd/system): службу ORVEX некому запускать\n");
    EXPECT_FALSE(fs::exists(dir / "opt/orvex"));
    EXPECT_TRUE(calls().empty());

    // Without an engine folder the system's v2ray will serve; systemctl's refusal is the error line.
    fs::create_directories(dir / "run/systemd/system");
    fs::remove_all(engine);
    writeFile(dir / "fake-linux/systemctl.fail-at", "3\n");
    RoleRun refused = run("-install-service");
    EXPECT_EQ(refused.code, 1);
    EXPECT_EQ(refused.error, "systemctl не принял службу: Failed to enable: Input/output error\n");
    EXPECT_EQ(inventory(dir / "opt/orvex"), (std::map<std::string, std::string>{{"orvexd", "0:0 0755"}}));
}

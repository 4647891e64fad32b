// The service's own update install end to end: the real `orvex -service` asked over its
// socket to install a version, with the update mirrors, the fake installation tools and a
// launchd job table that knows the service's process.
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

#include "DaemonClient.h"
#include "FakeMacTools.h"
#include "Paths.h"
#include "ServiceMachine.h"
#include "UpdateChecker.h"
#include "UpdateMirrors.h"

namespace fs = std::filesystem;
using namespace orvex;
using namespace orvex::test;

TEST(ServiceUpdate, InstallsThroughTheRunningServiceAndIsRestartedSoonAfter) {
    if (geteuid() != 0) GTEST_SKIP() << "the service's files belong to root";
    ServiceMachine machine;
    UpdateMirrors mirrors(machine.root());
    FakeMacTools tools(machine.root());
    mirrors.publish("1.5.0");
    FakeMacTools::makeApplication(machine.root() + "/package/ORVEX.app", "1.5.0");
    tools.setPackageContents(machine.root() + "/package/ORVEX.app");
    machine.start();
    tools.setJobs({{"net.orvex.vpn",
                    {{"plist", Paths::daemonPlist()}, {"program", {"orvexd"}}, {"pid", machine.pid()}}}});

    // A letter in the version is refused before anything is fetched.
    try {
        DaemonClient::installUpdate("1.5.0a");
        ADD_FAILURE() << "a version with a letter was accepted";
    } catch (const std::exception& error) {
        EXPECT_EQ(std::string(error.what()), "недопустимый номер версии");
    }
    EXPECT_TRUE(mirrors.first().requests().empty());
    EXPECT_TRUE(mirrors.second().requests().empty());

    DaemonClient::installUpdate("1.5.0");
    auto answered = std::chrono::steady_clock::now();
    EXPECT_EQ(UpdateChecker::bundleVersion(Paths::applicationBundle()), "1.5.0");
    EXPECT_EQ(readFile(Paths::daemonBinary()),
              readFile(Paths::applicationBundle() + "/Contents/MacOS/ORVEX"));
    EXPECT_TRUE(fs::is_empty(Paths::daemonHome() + "/updates"));
    EXPECT_TRUE(tools.calls("launchctl").empty());

    // launchd's TERM ends the service, which it would then start again on the new code.
    ASSERT_TRUE(waitUntil([&] { return !machine.running(); }, std::chrono::seconds(10))) << machine.log();
    auto delay = std::chrono::steady_clock::now() - answered;
    EXPECT_GE(delay, std::chrono::milliseconds(1200));
    EXPECT_LT(delay, std::chrono::seconds(5));
    EXPECT_EQ(tools.calls("launchctl"), std::vector<std::string>{"launchctl kill TERM system/net.orvex.vpn"});
    EXPECT_TRUE(machine.waitForLog("обновление: перезапускаю службу на новом коде"));
}

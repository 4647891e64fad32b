// The real `orvex` application under Xvfb, against the account-server fixture and the real
// service under a scratch ORVEX_ROOT: a link handed over by a second start connects, a widget
// command disconnects, and the widget's status file follows both.
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>

#include "AtomicFile.h"
#include "ChildProcess.h"
#include "DaemonClient.h"
#include "DesktopMachine.h"
#include "Paths.h"
#include "XvfbDisplay.h"

namespace orvex {
namespace {

using namespace std::chrono_literals;

int runToEnd(const std::vector<std::string>& arguments) {
    ChildProcess process = ChildProcess::spawn(ORVEX_EXECUTABLE, arguments);
    return process.wait();
}

TEST(AppGui, ALinkConnectsAWidgetCommandDisconnectsAndTheStatusFileFollows) {
    test::XvfbDisplay display;
    if (!display.available()) GTEST_SKIP() << "Xvfb is missing: scripts/setup installs it";
    test::DesktopMachine desktop(ORVEX_EXECUTABLE);
    test::ServiceMachine& machine = desktop.service();

    ChildProcess app = desktop.launchApp();
    ASSERT_TRUE(test::waitUntil([&] { return desktop.appListening(); }))
        << "the application never began listening";

    const std::string statusFile = Paths::sharedDir() + "/widget-status.json";
    EXPECT_EQ(runToEnd({"orvexvpn://toggle"}), 0);
    ASSERT_TRUE(test::waitUntil([] { return DaemonClient::status().state == TunnelState::connected; }, 30s))
        << machine.log();
    EXPECT_EQ(DaemonClient::status().serverName, "Нидерланды");
    EXPECT_TRUE(test::waitUntil([&] {
        return test::readFile(statusFile).find(R"("state":"connected","server":"Нидерланды")") !=
               std::string::npos;
    })) << test::readFile(statusFile);

    auto now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    ASSERT_TRUE(AtomicFile::write(Paths::sharedDir() + "/widget-command.json",
                                  R"({"action":"toggle","id":"6C1F5E2A-0B7D-4E55-9C33-2F1A7E9B0D41","at":)" +
                                      std::to_string(now) + "}"));
    ASSERT_TRUE(
        test::waitUntil([] { return DaemonClient::status().state == TunnelState::disconnected; }, 30s))
        << machine.log();
    EXPECT_TRUE(test::waitUntil(
        [&] { return test::readFile(statusFile).find(R"("state":"disconnected")") != std::string::npos; }));
    EXPECT_FALSE(std::filesystem::exists(Paths::sharedDir() + "/widget-command.json"));
    EXPECT_TRUE(app.running());

    // A session's end (SIGTERM) quits as the menu does: the widget learns the application is gone.
    app.terminate();
    EXPECT_EQ(app.wait(), 0);
    EXPECT_NE(test::readFile(statusFile).find(R"("alive":false)"), std::string::npos)
        << test::readFile(statusFile);
}

} // namespace
} // namespace orvex

// The service's health monitor and paced reconnects at their real pace (3 s checks, pauses of
// 5, 15 and 30 s), end to end with the fake engines.
#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>

#include "DaemonClient.h"
#include "ServiceMachine.h"

using namespace orvex;
using namespace std::chrono_literals;

namespace {

void killEngine(test::ServiceMachine& machine) {
    auto engines = machine.enginePids("xray");
    ASSERT_EQ(engines.size(), 1u);
    ::kill(engines.front(), SIGKILL);
}

bool hasRoute(test::FakeSystem& system, const std::string& dest) {
    for (const auto& route : system.routes())
        if (route.at("dest") == dest) return true;
    return false;
}

size_t defaultRouteReads(test::FakeSystem& system) {
    return std::ranges::count(system.calls(), std::string("route -n get default"));
}

} // namespace

// More idle clients than the service may hold descriptors: it caps its connections below its
// limit, so it neither ends nor fails the health monitor's probes, and answers once they go.
TEST(ServiceSlow, MoreIdleClientsThanDescriptorsEndNeitherTheServiceNorTheTunnel) {
    test::ServiceMachine machine;
    machine.start(64);
    ASSERT_EQ(DaemonClient::connect(test::ServiceMachine::link(), "Сервер").state, TunnelState::connected);
    std::vector<FileDescriptor> idle;
    for (int i = 0; i < 100; ++i)
        if (auto fd = test::idleClient(machine.socketPath(), false)) idle.push_back(std::move(fd));
    size_t reads = defaultRouteReads(machine.system());
    EXPECT_TRUE(test::waitUntil([&] { return defaultRouteReads(machine.system()) >= reads + 2; }, 15s))
        << "the health monitor stopped checking";
    EXPECT_TRUE(machine.running());
    idle.clear();
    EXPECT_TRUE(test::waitUntil(DaemonClient::isRunning, 20s));
    EXPECT_EQ(DaemonClient::status().state, TunnelState::connected);
    EXPECT_EQ(machine.logCount("наблюдение: движок не отвечает"), 0u) << machine.log();
}

TEST(ServiceSlow, AnEngineKilledFromOutsideIsReconnected) {
    test::ServiceMachine machine;
    machine.start();
    ASSERT_EQ(DaemonClient::connect(test::ServiceMachine::link(), "Сервер").state, TunnelState::connected);
    killEngine(machine);
    EXPECT_TRUE(machine.waitForLog("наблюдение: движок не отвечает (1/2), порт=false процессы=false\n", 15s));
    EXPECT_TRUE(machine.waitForLog("наблюдение: движок не отвечает (2/2), порт=false процессы=false\n", 10s));
    EXPECT_TRUE(machine.waitForLog("наблюдение: движок остановился, пробую переподключиться\n", 5s));
    EXPECT_TRUE(machine.waitForLog("переподключение: попытка 1 через 5 с\n", 5s));
    EXPECT_EQ(DaemonClient::status().state, TunnelState::connecting);
    ASSERT_TRUE(machine.waitForLog("переподключение: удалось\n", 20s)) << machine.log();
    auto status = DaemonClient::status();
    EXPECT_EQ(status.state, TunnelState::connected);
    EXPECT_EQ(status.serverName, "Сервер");
    EXPECT_EQ(machine.enginePids("xray").size(), 1u);
    EXPECT_EQ(machine.enginePids("tun2socks").size(), 1u);
}

TEST(ServiceSlow, ADisconnectDuringThePauseCancelsTheReconnect) {
    test::ServiceMachine machine;
    std::string before = machine.system().snapshot();
    machine.start();
    ASSERT_EQ(DaemonClient::connect(test::ServiceMachine::link(), "Сервер").state, TunnelState::connected);
    killEngine(machine);
    ASSERT_TRUE(machine.waitForLog("переподключение: попытка 1 через 5 с\n", 20s));
    EXPECT_EQ(DaemonClient::disconnect().state, TunnelState::disconnected);
    size_t connects = machine.logCount("connect: запрошен");
    // Well past the pause: the scheduled attempt found a newer generation and did nothing.
    EXPECT_FALSE(test::waitUntil([&] { return machine.logCount("connect: запрошен") > connects; }, 10s));
    EXPECT_EQ(DaemonClient::status().state, TunnelState::disconnected);
    EXPECT_TRUE(machine.strayProcesses().empty());
    EXPECT_EQ(machine.system().snapshot(), before);
}

// Every reconnect fails once the engine exits at start: three attempts, then the end.
TEST(ServiceSlow, ExhaustedReconnectsEndInAnErrorWithTheKillSwitchOff) {
    test::ServiceMachine machine;
    std::string before = machine.system().snapshot();
    machine.start();
    ASSERT_EQ(DaemonClient::connect(test::ServiceMachine::link(), "Сервер").state, TunnelState::connected);
    machine.setEngineBehaviour("xray", "exit");
    killEngine(machine);
    ASSERT_TRUE(machine.waitForLog("переподключение: попытки исчерпаны\n", 90s)) << machine.log();
    EXPECT_EQ(machine.logCount("переподключение: попытка "), 3u);
    EXPECT_TRUE(test::waitUntil([] { return DaemonClient::status().state == TunnelState::error; }));
    auto status = DaemonClient::status();
    EXPECT_EQ(status.message, "Соединение потеряно");
    EXPECT_FALSE(status.killSwitchHold);
    EXPECT_TRUE(machine.strayProcesses().empty());
    EXPECT_EQ(machine.system().snapshot(), before);
}

TEST(ServiceSlow, ExhaustedReconnectsHoldTrafficWithTheKillSwitchOn) {
    test::ServiceMachine machine;
    machine.start();
    DaemonClient::setKillSwitch(true);
    ASSERT_EQ(DaemonClient::connect(test::ServiceMachine::link(), "Сервер").state, TunnelState::connected);
    machine.setEngineBehaviour("xray", "exit");
    killEngine(machine);
    ASSERT_TRUE(machine.waitForLog("переподключение: попытки исчерпаны\n", 90s)) << machine.log();
    EXPECT_TRUE(test::waitUntil([] { return DaemonClient::status().killSwitchHold; }));
    auto status = DaemonClient::status();
    EXPECT_EQ(status.state, TunnelState::disconnected);
    EXPECT_EQ(status.message, "Трафик заблокирован: туннель не поднят");
    EXPECT_TRUE(hasRoute(machine.system(), "0.0.0.0/1"));
    EXPECT_TRUE(hasRoute(machine.system(), "128.0.0.0/1"));
    EXPECT_EQ(machine.enginePids("tun2socks").size(), 1u);
    EXPECT_TRUE(machine.enginePids("xray").empty());

    // A disconnect lifts the block.
    DaemonClient::disconnect();
    EXPECT_FALSE(hasRoute(machine.system(), "0.0.0.0/1"));
    EXPECT_TRUE(machine.strayProcesses().empty());
}

// The engine's own slow ways to fail: a port that never opens is given its 10 s, and an
// engine that ignores SIGTERM is killed after its 3 s of grace.
TEST(ServiceSlow, AnEngineThatNeverListensOrIgnoresSigtermIsStillStopped) {
    test::ServiceMachine machine;
    std::string before = machine.system().snapshot();
    machine.start();
    machine.setEngineBehaviour("xray", "silent");
    try {
        DaemonClient::connect(test::ServiceMachine::link(), "Сервер");
        ADD_FAILURE() << "the connect succeeded";
    } catch (const DaemonError& error) {
        EXPECT_STREQ(error.what(), "движок не поднял локальный порт");
    }
    EXPECT_TRUE(machine.strayProcesses().empty());

    machine.setEngineBehaviour("xray", "stubborn");
    ASSERT_EQ(DaemonClient::connect(test::ServiceMachine::link(), "Сервер").state, TunnelState::connected);
    auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(DaemonClient::disconnect().state, TunnelState::disconnected);
    EXPECT_GE(std::chrono::steady_clock::now() - asked, 2500ms);
    EXPECT_EQ(machine.logCount("stop: xray не завершился по-хорошему, снят принудительно\n"), 1u);
    EXPECT_TRUE(machine.strayProcesses().empty());
    EXPECT_EQ(machine.system().snapshot(), before);
}

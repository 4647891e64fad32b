// The real `orvex -service` end to end: started as a child under a scratch ORVEX_ROOT with
// the fake engines and network tools, and talked to only through DaemonClient.
#include <csignal>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "DaemonClient.h"
#include "FileDescriptor.h"
#include "Paths.h"
#include "ServiceMachine.h"
#include "XrayConfig.h"

using namespace orvex;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

bool hasRoute(test::FakeSystem& system, const std::string& dest, const std::string& iface) {
    for (const auto& route : system.routes())
        if (route.at("dest") == dest && route.at("interface") == iface) return true;
    return false;
}

std::string refusal(const std::function<void()>& call) {
    try {
        call();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "(no error)";
}

ino_t inodeOf(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

// The snapshot as the system shows it once routes through interfaces that no longer exist are
// gone: the kernel drops those with the interface (the bridge's utun goes with the bridge), which
// the fake route tool does not model.
std::string withoutVanishedInterfaces(test::FakeSystem& system) {
    auto up = system.upInterfaces();
    json kept = json::array();
    for (const auto& route : system.routes())
        if (up.contains(route.at("interface").get<std::string>())) kept.push_back(route);
    system.setRoutes(kept);
    return system.snapshot();
}

} // namespace

TEST(Service, ConnectsThroughTheFakeSystemAndUndoesItAll) {
    test::ServiceMachine machine;
    std::string before = machine.system().snapshot();
    machine.start();

    // The connect takes the bridge's settle time at least; meanwhile the status poll is
    // answered at once and a second connect is refused without disturbing the first.
    auto connecting = std::async(
        std::launch::async, [] { return DaemonClient::connect(test::ServiceMachine::link(), "Нидерланды"); });
    TunnelStatus seen;
    ASSERT_TRUE(test::waitUntil([&] {
        auto asked = std::chrono::steady_clock::now();
        seen = DaemonClient::status();
        EXPECT_LT(std::chrono::steady_clock::now() - asked, 1s);
        return seen.state != TunnelState::disconnected;
    }));
    EXPECT_EQ(seen.state, TunnelState::connecting);
    EXPECT_EQ(seen.serverName, "Нидерланды");
    EXPECT_EQ(refusal([] { DaemonClient::connect(test::ServiceMachine::link(), "Второй"); }),
              "уже подключено или подключается");

    auto status = connecting.get();
    ASSERT_EQ(status.state, TunnelState::connected) << status.message << machine.log();
    EXPECT_EQ(status.serverName, "Нидерланды");
    EXPECT_EQ(DaemonClient::status(), status);
    EXPECT_EQ(machine.strayProcesses().size(), 2u);
    // The engines run in their own folder and inherit nothing of the service (its listening
    // socket, the clients' connections, its log) beyond their three standard streams.
    for (const char* engine : {"xray", "tun2socks"}) {
        auto runs = machine.engineRuns(engine);
        ASSERT_EQ(runs.size(), 1u) << engine;
        EXPECT_EQ(runs[0].at("fds"), json::array({0, 1, 2})) << engine;
        EXPECT_EQ(runs[0].at("cwd"), machine.engineDir()) << engine;
    }

    auto& system = machine.system();
    std::string iface;
    for (const auto& route : system.routes())
        if (route.at("dest") == "0.0.0.0/1") iface = route.at("interface");
    ASSERT_TRUE(iface.starts_with("utun")) << system.routes().dump();
    EXPECT_TRUE(hasRoute(system, "128.0.0.0/1", iface));
    EXPECT_TRUE(hasRoute(system, "203.0.113.9/32", "en0"));
    auto [primary, secondary] = XrayConfig::dnsPair(true);
    EXPECT_EQ(system.dns().at("Wi-Fi"), json::array({primary, secondary}));
    EXPECT_EQ(system.dns().at("USB 10/100/1000 LAN"), json::array({primary, secondary}));
    EXPECT_EQ(machine.logCount("connect: готово"), 1u);
    EXPECT_EQ(machine.logCount("уже подключено или подключается"), 1u);

    EXPECT_EQ(DaemonClient::disconnect().state, TunnelState::disconnected);
    EXPECT_TRUE(machine.strayProcesses().empty());
    EXPECT_EQ(system.snapshot(), before);
    EXPECT_EQ(machine.stop(), 0);
}

TEST(Service, EachEngineFailureReachesTheApplicationWithItsText) {
    test::ServiceMachine machine;
    std::string before = machine.system().snapshot();
    machine.start();
    auto failure = [&](const std::string& link) {
        std::string text = refusal([&] { DaemonClient::connect(link, "Сервер"); });
        auto status = DaemonClient::status();
        EXPECT_EQ(status.state, TunnelState::error) << text;
        EXPECT_EQ(status.message, text);
        EXPECT_TRUE(machine.strayProcesses().empty()) << text;
        EXPECT_EQ(machine.system().snapshot(), before) << text;
        return text;
    };

    EXPECT_EQ(failure(test::ServiceMachine::link("203.0.113.9", 70000)), "в ссылке некорректный порт");

    machine.setEngineBehaviour("xray", "exit");
    EXPECT_EQ(failure(test::ServiceMachine::link()), "движок завершился сразу после запуска: xray");
    machine.setEngineBehaviour("xray", "");
    machine.setEngineBehaviour("tun2socks", "exit");
    std::string bridge = failure(test::ServiceMachine::link());
    EXPECT_TRUE(bridge.starts_with("не удалось поднять TUN-интерфейс utun")) << bridge;
    machine.setEngineBehaviour("tun2socks", "");

    auto routes = machine.system().routes();
    machine.system().setRoutes(json::array());
    before = machine.system().snapshot();
    EXPECT_EQ(failure(test::ServiceMachine::link()),
              "не удалось определить текущий шлюз — проверьте подключение к сети");
    machine.system().setRoutes(routes);
    before = machine.system().snapshot();

    std::filesystem::remove(machine.engineDir() + "/geosite.dat");
    EXPECT_EQ(failure("not even a link"), "не найден файл движка: " + machine.engineDir() + "/geosite.dat");
    EXPECT_EQ(machine.logCount("connect: ошибка: "), 5u);
}

TEST(Service, SigtermWhileConnectedLeavesNothingBehind) {
    test::ServiceMachine machine;
    std::string before = machine.system().snapshot();
    machine.start();
    ASSERT_EQ(DaemonClient::connect(test::ServiceMachine::link(), "Сервер").state, TunnelState::connected);
    EXPECT_EQ(machine.stop(SIGTERM), 0);
    EXPECT_TRUE(machine.strayProcesses().empty());
    EXPECT_EQ(machine.system().snapshot(), before);
    EXPECT_FALSE(std::filesystem::exists(machine.socketPath()));
    std::string log = machine.log();
    EXPECT_NE(log.find("получен сигнал 15, останавливаюсь\n"), std::string::npos) << log;
    EXPECT_TRUE(log.ends_with("демон остановлен\n")) << log;
}

TEST(Service, SigkillWhileConnectedIsRepairedByTheNextStart) {
    test::ServiceMachine machine;
    std::string before = machine.system().snapshot();
    machine.start();
    ASSERT_EQ(DaemonClient::connect(test::ServiceMachine::link(), "Сервер").state, TunnelState::connected);
    machine.stop(SIGKILL);
    // The orphans still hold the tunnel and the network still points into it.
    EXPECT_EQ(machine.strayProcesses().size(), 2u);
    EXPECT_NE(machine.system().snapshot(), before);

    machine.start();
    EXPECT_TRUE(test::waitUntil([&] { return machine.strayProcesses().empty(); }));
    EXPECT_EQ(withoutVanishedInterfaces(machine.system()), before);
    EXPECT_EQ(DaemonClient::status().state, TunnelState::disconnected);
    // And the repaired machine connects again as usual.
    EXPECT_EQ(DaemonClient::connect(test::ServiceMachine::link(), "Сервер").state, TunnelState::connected);
    DaemonClient::disconnect();
    EXPECT_EQ(machine.system().snapshot(), before) << machine.log();
}

// A disconnect that cannot put the user's DNS back leaves it owed; the next connect must not
// take our servers for the user's, and neither it nor a restart may lose what is owed.
TEST(Service, DNSThatCouldNotBeRestoredIsRestoredByTheNextDisconnect) {
    test::ServiceMachine machine;
    auto& system = machine.system();
    std::string before = system.snapshot();
    machine.start();
    ASSERT_EQ(DaemonClient::connect(test::ServiceMachine::link(), "Сервер").state, TunnelState::connected);
    system.failMatching("-setdnsservers Wi-Fi Empty");
    system.failMatching("-setdnsservers USB 10/100/1000 LAN 10.0.0.54 10.0.0.53");
    DaemonClient::disconnect();
    EXPECT_NE(system.snapshot(), before);
    system.clearFailures();

    ASSERT_EQ(DaemonClient::connect(test::ServiceMachine::link(), "Сервер").state, TunnelState::connected);
    DaemonClient::disconnect();
    EXPECT_EQ(system.snapshot(), before) << machine.log();
    EXPECT_EQ(machine.stop(), 0);
    machine.start();
    EXPECT_EQ(system.snapshot(), before) << machine.log();
}

TEST(Service, ASecondInstanceTakesOverTheSocketAndTheFirstLeavesItAlone) {
    test::ServiceMachine machine;
    machine.start();
    ino_t first = inodeOf(machine.socketPath());
    auto second = machine.startAnother();
    ASSERT_TRUE(test::waitUntil([&] {
        return inodeOf(machine.socketPath()) != first && inodeOf(machine.socketPath()) != 0 &&
               DaemonClient::isRunning();
    }));
    EXPECT_EQ(machine.stop(SIGTERM), 0);
    EXPECT_TRUE(std::filesystem::exists(machine.socketPath()));
    EXPECT_TRUE(DaemonClient::isRunning());
    ::kill(second.pid(), SIGTERM);
    ASSERT_TRUE(second.waitFor(10s));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_FALSE(std::filesystem::exists(machine.socketPath()));
}

TEST(Service, SettingsSurviveARestart) {
    test::ServiceMachine machine;
    machine.start();
    DaemonClient::setLogging(false);
    EXPECT_TRUE(DaemonClient::setKillSwitch(true).killSwitchEnabled);
    auto adBlock = DaemonClient::setAdBlock(false);
    EXPECT_FALSE(adBlock.status.adBlockEnabled);
    EXPECT_FALSE(adBlock.needReconnect);
    std::string quiet = machine.log();
    EXPECT_EQ(machine.stop(), 0);
    EXPECT_EQ(machine.log(), quiet) << "logging was switched off";

    machine.start();
    auto status = DaemonClient::status();
    EXPECT_TRUE(status.killSwitchEnabled);
    EXPECT_FALSE(status.adBlockEnabled);
    EXPECT_EQ(machine.log(), quiet);
    DaemonClient::setLogging(true);
    DaemonClient::setKillSwitch(false);
    EXPECT_EQ(machine.stop(), 0);

    machine.start();
    EXPECT_FALSE(DaemonClient::status().killSwitchEnabled);
    EXPECT_TRUE(machine.waitForLog("демон запущен, слушает " + machine.socketPath() + "\n"));
    EXPECT_GE(machine.logCount("демон запускается, label=net.orvex.vpn\n"), 2u);
}

TEST(Service, SilentClientsDoNotHoldUpTheStatusPoll) {
    test::ServiceMachine machine;
    machine.start();
    std::vector<FileDescriptor> silent;
    for (int i = 0; i < 200; ++i) {
        silent.push_back(test::idleClient(machine.socketPath()));
        ASSERT_TRUE(silent.back()) << i;
    }
    for (int i = 0; i < 10; ++i) {
        auto asked = std::chrono::steady_clock::now();
        EXPECT_EQ(DaemonClient::status().state, TunnelState::disconnected);
        EXPECT_LT(std::chrono::steady_clock::now() - asked, 2s);
    }
}

// Cycles leave no process, route or DNS change behind, and the service does not grow.
TEST(Service, FiftyConnectCyclesLeaveNothingBehind) {
    test::ServiceMachine machine;
    std::string snapshot = machine.system().snapshot();
    machine.start();
    auto cycle = [&] {
        ASSERT_EQ(DaemonClient::connect(test::ServiceMachine::link(), "Цикл").state, TunnelState::connected)
            << machine.log();
        ASSERT_EQ(DaemonClient::disconnect().state, TunnelState::disconnected);
    };
    // The log's writer opens its file for each line, so one reading may catch an extra
    // descriptor: the fewest seen over a short while is the service's own count.
    auto descriptors = [&] {
        size_t fewest = SIZE_MAX;
        test::waitUntil(
            [&] {
                fewest = std::min(fewest, machine.serviceDescriptors());
                return false;
            },
            300ms);
        return fewest;
    };
    // The first cycle makes what lives for the rest of the process.
    cycle();
    size_t before = descriptors();
    size_t resident = machine.serviceResidentKiB();
    for (int i = 0; i < 50; ++i) cycle();
    EXPECT_TRUE(machine.strayProcesses().empty());
    EXPECT_EQ(machine.system().snapshot(), snapshot);
    EXPECT_EQ(descriptors(), before);
    EXPECT_LT(machine.serviceResidentKiB(), resident + 2048) << "from " << resident << " KiB";
}

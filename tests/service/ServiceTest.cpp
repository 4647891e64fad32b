// The real `orvex -service` end to end: started as a child under a scratch ORVEX_ROOT with
// the fake engines and network tools, and talked to only through DaemonClient.
#include <csignal>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "DaemonClient.h"
#include "FakeMacTools.h"
#include "FileDescriptor.h"
#include "Paths.h"
#include "ServiceMachine.h"
#include "UpdateChecker.h"
#include "UpdateMirrors.h"

using namespace orvex;
using namespace std::chrono_literals;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

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

// The snapshot once routes through vanished interfaces are gone, as the kernel drops them with
// the interface (the bridge's utun goes with the bridge) and the fake route tool does not.
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
    // Left readable by everybody by an older version.
    test::writeFile(machine.stateDir() + "/engine-xray.log", "", 0644);
    machine.start();

    // A failed connect reaches the application with the tunnel's own text, and leaves nothing.
    machine.engine().setMode("xray", "exit");
    EXPECT_EQ(refusal([] { DaemonClient::connect(test::ServiceMachine::link(), "Сервер"); }),
              "движок завершился сразу после запуска: xray");
    EXPECT_EQ(DaemonClient::status().message, "движок завершился сразу после запуска: xray");
    EXPECT_NE(test::readFile(machine.stateDir() + "/engine-xray.log").find("refuse its configuration"),
              std::string::npos);
    EXPECT_TRUE(machine.strayProcesses().empty());
    EXPECT_EQ(machine.system().snapshot(), before);
    machine.engine().setMode("xray", "");

    // The connect takes the bridge's settle time at least; meanwhile the status poll is
    // answered at once and a second connect is refused without disturbing the first.
    auto connecting = std::async(
        std::launch::async, [] { return DaemonClient::connect(test::ServiceMachine::link(), "Нидерланды"); });
    TunnelStatus seen;
    ASSERT_TRUE(test::waitUntil([&] {
        auto asked = std::chrono::steady_clock::now();
        seen = DaemonClient::status();
        EXPECT_LT(std::chrono::steady_clock::now() - asked, 1s);
        return seen.state == TunnelState::connecting || seen.state == TunnelState::connected;
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
    // The engines inherit nothing of the service beyond their standard streams; the bridge gets
    // the inbound's password, which only root may read, in files or logs.
    auto config = json::parse(test::readFile(Paths::generatedConfig()));
    auto account = config["inbounds"][0]["settings"]["accounts"][0];
    std::string port = std::to_string(config["inbounds"][0]["port"].get<int>());
    for (const char* engine : {"xray", "tun2socks"}) {
        auto run = machine.engine().runs(engine).back();
        EXPECT_EQ(run.at("fds"), json::array({0, 1, 2})) << engine;
        EXPECT_EQ(run.at("cwd"), machine.engine().engineDir()) << engine;
        EXPECT_EQ(run.at("args").back(), engine == std::string("xray")
                                             ? Paths::generatedConfig()
                                             : "socks5://" + account["user"].get<std::string>() + ":" +
                                                   account["pass"].get<std::string>() + "@127.0.0.1:" + port);
    }
    for (std::string file : {Paths::generatedConfig(), machine.stateDir() + "/engine-xray.log",
                             machine.stateDir() + "/engine-tun2socks.log"}) {
        struct stat info {};
        ASSERT_EQ(::stat(file.c_str(), &info), 0) << file;
        EXPECT_EQ(info.st_mode & 0777, 0600u) << file;
    }

    // What the network looks like while connected is for tests/OrvexDaemon/RoutingTest.cpp.
    EXPECT_NE(machine.system().snapshot(), before);
    // The service's log is written by a thread of its own: the line may come after the answer.
    ASSERT_TRUE(machine.waitForLog("connect: готово"));
    EXPECT_EQ(machine.logCount("connect: готово"), 1u);
    EXPECT_EQ(machine.logCount("уже подключено или подключается"), 1u);

    EXPECT_EQ(DaemonClient::disconnect().state, TunnelState::disconnected);
    EXPECT_TRUE(machine.strayProcesses().empty());
    EXPECT_EQ(machine.system().snapshot(), before);
    EXPECT_EQ(machine.stop(), 0);
}

// DNS a disconnect could not put back is owed (the next connect must not take our servers for
// the user's); a killed service leaves engines and routes into the tunnel: a start repairs all.
TEST(Service, WhatAFailedDisconnectOrAKilledServiceLeftIsRepairedByTheNextStart) {
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
    machine.stop(SIGKILL);
    EXPECT_EQ(machine.strayProcesses().size(), 2u);
    machine.start();
    EXPECT_TRUE(test::waitUntil([&] { return machine.strayProcesses().empty(); }));
    EXPECT_EQ(withoutVanishedInterfaces(system), before) << machine.log();
    EXPECT_EQ(DaemonClient::status().state, TunnelState::disconnected);
    // And the repaired machine connects again as usual.
    EXPECT_EQ(DaemonClient::connect(test::ServiceMachine::link(), "Сервер").state, TunnelState::connected);
    DaemonClient::disconnect();
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

// Cycles leave no process, route, DNS change or descriptor behind, and neither does a SIGTERM
// while connected.
TEST(Service, ConnectCyclesAndASigtermLeaveNothingBehind) {
    test::ServiceMachine machine;
    std::string snapshot = machine.system().snapshot();
    machine.start();
    auto connect = [] { return DaemonClient::connect(test::ServiceMachine::link(), "Цикл").state; };
    // The first cycle makes what lives for the rest of the process.
    ASSERT_EQ(connect(), TunnelState::connected) << machine.log();
    DaemonClient::disconnect();
    size_t before = machine.serviceDescriptors();
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(connect(), TunnelState::connected) << machine.log();
        ASSERT_EQ(DaemonClient::disconnect().state, TunnelState::disconnected);
    }
    EXPECT_TRUE(machine.strayProcesses().empty());
    EXPECT_EQ(machine.system().snapshot(), snapshot);
    // The log's writer opens its file for each line, so one reading may catch one more.
    EXPECT_LE(machine.serviceDescriptors(), before + 1);

    ASSERT_EQ(connect(), TunnelState::connected);
    EXPECT_EQ(machine.stop(SIGTERM), 0);
    EXPECT_TRUE(machine.strayProcesses().empty());
    EXPECT_EQ(machine.system().snapshot(), snapshot);
    EXPECT_FALSE(std::filesystem::exists(machine.socketPath()));
    std::string log = machine.log();
    EXPECT_NE(log.find("получен сигнал 15, останавливаюсь\n"), std::string::npos) << log;
    EXPECT_TRUE(log.ends_with("демон остановлен\n")) << log;
}

// More idle clients than descriptors: the service caps its connections below its limit, so its
// health monitor's probes (every 3 s) go on, and it answers once the clients go.
TEST(Service, MoreIdleClientsThanDescriptorsEndNeitherTheServiceNorTheTunnel) {
    test::ServiceMachine machine;
    machine.start(64);
    ASSERT_EQ(DaemonClient::connect(test::ServiceMachine::link(), "Сервер").state, TunnelState::connected);
    std::vector<FileDescriptor> idle;
    for (int i = 0; i < 100; ++i)
        if (auto fd = test::idleClient(machine.socketPath(), false)) idle.push_back(std::move(fd));
    auto defaultRouteReads = [&] {
        return std::ranges::count(machine.system().calls(), std::string("route -n get default"));
    };
    auto reads = defaultRouteReads();
    EXPECT_TRUE(test::waitUntil([&] { return defaultRouteReads() >= reads + 2; }, 15s))
        << "the health monitor stopped checking";
    EXPECT_TRUE(machine.running());
    idle.clear();
    EXPECT_TRUE(test::waitUntil(DaemonClient::isRunning, 20s));
    EXPECT_EQ(DaemonClient::status().state, TunnelState::connected);
    EXPECT_EQ(machine.logCount("наблюдение: движок не отвечает"), 0u) << machine.log();
}

// The service's own update over its socket: each wrong step fails with its words and leaves
// nothing; the right one is installed, and launchd restarts the service soon after it answered.
TEST(Service, InstallsAnUpdateOrSaysWhichStepFailed) {
    if (geteuid() != 0) GTEST_SKIP() << "the service's files belong to root";
    test::ServiceMachine machine;
    test::UpdateMirrors mirrors(machine.root());
    test::FakeMacTools tools(machine.root());
    std::string packaged = machine.root() + "/package/ORVEX.app", updates = Paths::daemonHome() + "/updates";
    auto package = [&](const std::string& version) {
        fs::remove_all(packaged);
        test::FakeMacTools::makeApplication(packaged, version);
        tools.setPackageContents(packaged);
    };
    auto failureOf = [](const std::string& version) {
        return refusal([&] { DaemonClient::installUpdate(version); });
    };
    mirrors.publish("1.5.0");
    package("1.5.0");
    machine.start();

    for (const char* version :
         {"1.5.0a", "v1.5.0", "1.5 .0", "1,5", "1.2.3.4.5.6.7.8.9.10.11.12", "1.5.0-beta", "1.5.0\n"})
        EXPECT_EQ(failureOf(version), "недопустимый номер версии") << version;
    EXPECT_TRUE(mirrors.first().requests().empty());
    EXPECT_TRUE(mirrors.second().requests().empty());
    // Digits of any script pass the text check; the manifest then decides.
    for (std::string version : {"\u0661.\u0665.\u0660", "111111111111.11111111111", "1.6.0"})
        EXPECT_EQ(failureOf(version), "манифест предлагает версию 1.5.0, а запрошена " + version);
    EXPECT_EQ(mirrors.first().requestCount(mirrors.packagePath("1.5.0")), 0u);

    mirrors.first().setAnswer(mirrors.packagePath("1.5.0"), test::FileAnswer{.status = 404});
    EXPECT_EQ(failureOf("1.5.0"),
              "не удалось скачать пакет: Не удалось скачать обновление: сервер не отдал файл (код 404)");
    EXPECT_TRUE(tools.calls("installer").empty());
    mirrors.publish("1.5.0");
    tools.failAt("installer", 1);
    EXPECT_EQ(failureOf("1.5.0"),
              "установщик отказал: installer: The install failed. (The Installer encountered "
              "an error that caused the installation to fail. Contact the software "
              "manufacturer for assistance.)");
    EXPECT_TRUE(fs::is_empty(updates));
    package("1.4.0");
    EXPECT_EQ(failureOf("1.5.0"), "установилась версия 1.4.0, а ожидалась 1.5.0");
    EXPECT_TRUE(fs::is_empty(updates));
    EXPECT_FALSE(fs::exists(Paths::daemonBinary()));
    fs::remove(packaged + "/Contents/Info.plist");
    fs::remove_all(Paths::applicationBundle());
    EXPECT_EQ(failureOf("1.5.0"), "установщик отработал, но приложения в «Программах» нет");

    package("1.5.0");
    size_t installs = tools.calls("installer").size();
    tools.setJobs({{"net.orvex.vpn",
                    {{"plist", Paths::daemonPlist()}, {"program", {"orvexd"}}, {"pid", machine.pid()}}}});
    DaemonClient::installUpdate("1.5.0");
    auto answered = std::chrono::steady_clock::now();
    EXPECT_EQ(UpdateChecker::bundleVersion(Paths::applicationBundle()), "1.5.0");
    EXPECT_EQ(test::readFile(Paths::daemonBinary()),
              test::readFile(Paths::applicationBundle() + "/Contents/MacOS/ORVEX"));
    EXPECT_TRUE(fs::exists(Paths::daemonHome() + "/engine/xray"));
    EXPECT_EQ(tools.calls("installer").at(installs),
              "installer -pkg " + updates + "/ORVEX-1.5.0.pkg -target /");
    // Where root keeps what it runs, only root may write; nothing stays there afterwards.
    struct stat folder {};
    ASSERT_EQ(::stat(updates.c_str(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 07777, 0700u);
    EXPECT_EQ(folder.st_uid, 0u);
    EXPECT_TRUE(fs::is_empty(updates));
    EXPECT_TRUE(tools.calls("launchctl").empty());

    // launchd's TERM ends the service, which it would then start again on the new code.
    ASSERT_TRUE(test::waitUntil([&] { return !machine.running(); }, 10s)) << machine.log();
    auto delay = std::chrono::steady_clock::now() - answered;
    EXPECT_GE(delay, 1200ms);
    EXPECT_LT(delay, 5s);
    EXPECT_EQ(tools.calls("launchctl"), std::vector<std::string>{"launchctl kill TERM system/net.orvex.vpn"});
    EXPECT_TRUE(machine.waitForLog("обновление: перезапускаю службу на новом коде"));
}

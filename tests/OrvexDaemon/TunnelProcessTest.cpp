// The tunnel in-process with short waits, against the fake engines and macOS tools run as real
// child processes: its failures, its monitor and its recovery (a whole connect is in tests/service).
#include "Tunnel.h"

#include "ChildProcess.h"
#include "FakeEngine.h"
#include "FakeSystem.h"
#include "Log.h"
#include "Paths.h"
#include "ProcessStartTime.h"
#include "Routing.h"
#include "RoutingJournal.h"
#include "TestSupport.h"
#include "TunnelError.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <sstream>
#include <thread>

namespace orvex {
namespace {

using namespace std::chrono_literals;
using test::FakeEngine;
using testing::Contains;
using testing::HasSubstr;

const std::string serverLink = "vless://11111111-2222-3333-4444-555555555555@203.0.113.7:443"
                               "?encryption=none&security=none&type=tcp#Test";

class TunnelWorld : public testing::Test {
protected:
    TunnelWorld() {
        log.setEnabled(true);
        timing.portWait = 5s;
        timing.portPoll = 20ms;
        timing.bridgeSettle = 200ms;
        timing.stopGrace = 500ms;
        timing.firstCheck = timing.checkInterval = 100ms;
        timing.reconnectPauses = {1s, 1s, 1s};
        pristine = system.snapshot();
    }
    ~TunnelWorld() override {
        if (!tunnel) return;
        std::weak_ptr<Tunnel> weak = tunnel;
        tunnel->disconnect();
        tunnel.reset();
        // A monitor thread may hold it for the rest of a round; the log must outlive that.
        test::waitUntil([&] { return weak.expired(); });
    }

    Tunnel::Environment environment() {
        Tunnel::Environment environment;
        environment.upInterfaces = [this] { return system.upInterfaces(); };
        environment.engineDir = [this] { return engine.engineDir(); };
        environment.timing = timing;
        return environment;
    }
    std::shared_ptr<Tunnel> make() { return std::make_shared<Tunnel>(log, environment()); }

    std::vector<std::string> messages() {
        log.flush();
        std::vector<std::string> lines;
        std::istringstream text(test::readFile(log.filePath()));
        for (std::string line; std::getline(text, line);) lines.push_back(line.substr(line.find("] ") + 2));
        return lines;
    }
    bool logged(const std::string& line) {
        return test::waitUntil([&] { return std::ranges::count(messages(), line) > 0; }, 20s);
    }
    size_t count(const std::string& line) { return std::ranges::count(messages(), line); }
    bool noEngineLeft() {
        for (const char* program : {"xray", "tun2socks"})
            for (const auto& run : engine.runs(program))
                if (FakeEngine::alive(run["pid"].get<pid_t>())) return false;
        return true;
    }
    pid_t lastPid(const std::string& program) { return engine.runs(program).back()["pid"].get<pid_t>(); }

    test::TempDir root;
    test::ScopedEnv rootEnv{"ORVEX_ROOT", root.path()};
    test::ScopedEnv homeEnv{"HOME", root / "home"};
    test::FakeSystem system{root.path()};
    FakeEngine engine{root.path(), root / "engine"};
    Log log{Paths::daemonLogDir(), "service"};
    Tunnel::Timing timing;
    std::string pristine;
    std::shared_ptr<Tunnel> tunnel;
};

TEST_F(TunnelWorld, EveryFailedStepIsReportedOnceAndLeavesNothingBehind) {
    tunnel = make();
    auto expectFailure = [&](const std::string& raw, const std::string& text) {
        EXPECT_ANY_THROW(tunnel->connect(raw, "Сервер", false));
        auto status = tunnel->currentStatus();
        EXPECT_EQ(status.state, TunnelState::error);
        EXPECT_EQ(status.message, text);
        EXPECT_EQ(count("connect: ошибка: " + text), 1u) << text;
        EXPECT_TRUE(noEngineLeft()) << text;
        EXPECT_EQ(system.snapshot(), pristine) << text;
    };
    expectFailure("vless://11111111-2222-3333-4444-555555555555@203.0.113.7:99999",
                  "в ссылке некорректный порт");

    engine.setMode("xray", "silent");
    timing.portWait = 300ms;
    tunnel = make();
    expectFailure(serverLink, "движок не поднял локальный порт");

    engine.setMode("xray", "");
    engine.setMode("tun2socks", "exit");
    expectFailure(serverLink, "не удалось поднять TUN-интерфейс utun5");
    engine.setMode("tun2socks", "");

    auto starts = engine.runs("xray").size();
    auto routes = system.routes();
    system.setRoutes(nlohmann::json::array());
    pristine = system.snapshot();
    expectFailure(serverLink, "не удалось определить текущий шлюз — проверьте подключение к сети");
    system.setRoutes(routes);
    pristine = system.snapshot();

    std::filesystem::remove(engine.engineDir() + "/geosite.dat");
    expectFailure("not a link", "не найден файл движка: " + engine.engineDir() + "/geosite.dat");
    EXPECT_EQ(engine.runs("xray").size(), starts);
}

TEST_F(TunnelWorld, AStubbornEngineIsKilledAndADisconnectDuringAConnectUndoesIt) {
    engine.setMode("xray", "stubborn");
    test::writeFile(Paths::daemonLogDir() + "/split.state", " 0\n");
    tunnel = make();
    tunnel->connect(serverLink, "Сервер", false);
    EXPECT_THAT(messages(), Contains("connect: сплит=выключен"));
    EXPECT_FALSE(nlohmann::json::parse(test::readFile(Paths::generatedConfig())).contains("routing"));
    for (const auto& call : system.calls()) EXPECT_THAT(call, testing::Not(HasSubstr("-ifscope")));
    tunnel->disconnect();
    EXPECT_EQ(count("stop: xray не завершился по-хорошему, снят принудительно"), 1u);
    EXPECT_EQ(count("stop: tun2socks не завершился по-хорошему, снят принудительно"), 0u);
    EXPECT_TRUE(noEngineLeft());

    // The fake tools answer slowly enough to catch the connect still running: the disconnect
    // waits for it and then takes all of it down.
    engine.setMode("xray", "");
    std::thread superseded([&] { EXPECT_NO_THROW(tunnel->connect(serverLink, "Сервер", false)); });
    EXPECT_TRUE(
        test::waitUntil([&] { return tunnel->currentStatus().state == TunnelState::connecting; }, 5s));
    tunnel->disconnect();
    superseded.join();
    EXPECT_EQ(tunnel->currentStatus().state, TunnelState::disconnected);
    EXPECT_TRUE(noEngineLeft());
    EXPECT_EQ(system.snapshot(), pristine);
}

// The monitor reconnects after the engine dies and after the default network changes; a
// disconnect during a pause before an attempt cancels that attempt.
TEST_F(TunnelWorld, MonitorReconnectsAfterTheEngineDiesOrTheNetworkChanges) {
    tunnel = make();
    tunnel->connect(serverLink, "Сервер", false);
    pid_t first = lastPid("xray");
    ::kill(first, SIGKILL);
    EXPECT_TRUE(logged("наблюдение: движок не отвечает (2/2), порт=false процессы=false"));
    EXPECT_TRUE(logged("переподключение: попытка 1 через 1 с"));
    EXPECT_TRUE(logged("переподключение: удалось"));
    EXPECT_EQ(tunnel->currentStatus().state, TunnelState::connected);
    EXPECT_NE(lastPid("xray"), first);

    auto routes = system.routes();
    for (auto& route : routes)
        if (route["dest"] == "default" && route["family"] == "inet") route["gateway"] = "192.168.1.254";
    system.setRoutes(routes);
    EXPECT_TRUE(logged("наблюдение: сменилась сеть по умолчанию, переподключаюсь"));
    EXPECT_TRUE(logged("переподключение после смены сети: удалось"));
    EXPECT_THAT(messages(), Contains("connect: шлюз=192.168.1.254 локальный адрес= интерфейс=en0"));
    EXPECT_EQ(tunnel->currentStatus().state, TunnelState::connected);
    EXPECT_EQ(count("наблюдение: запущено (поколение 1)"), 3u);

    ::kill(lastPid("xray"), SIGKILL);
    ASSERT_TRUE(test::waitUntil([&] { return count("переподключение: попытка 1 через 1 с") == 2; }, 20s));
    EXPECT_EQ(tunnel->currentStatus().state, TunnelState::connecting);
    auto starts = engine.runs("xray").size();
    tunnel->disconnect();
    EXPECT_FALSE(test::waitUntil([&] { return engine.runs("xray").size() > starts; }, 2s));
    EXPECT_EQ(tunnel->currentStatus().state, TunnelState::disconnected);
    EXPECT_EQ(count("переподключение: удалось"), 1u);
}

TEST_F(TunnelWorld, ExhaustedReconnectsReportTheLossOrHoldTrafficWithTheKillSwitch) {
    for (bool killSwitch : {false, true}) {
        SCOPED_TRACE(killSwitch);
        engine.setMode("xray", "");
        tunnel = make();
        tunnel->setKillSwitch(killSwitch);
        tunnel->connect(serverLink, "Сервер", false);
        engine.setMode("xray", "exit");
        ::kill(lastPid("xray"), SIGKILL);
        size_t rounds = killSwitch ? 2 : 1;
        ASSERT_TRUE(
            test::waitUntil([&] { return count("переподключение: попытки исчерпаны") == rounds; }, 30s));
        EXPECT_EQ(count("переподключение: попытка 3 через 1 с"), rounds);
        EXPECT_EQ(count("переподключение: попытка 4 через 1 с"), 0u);

        // The last word comes after that line and stays: nothing overwrites the hold.
        auto final = [&] {
            auto now = tunnel->currentStatus();
            return now.state == (killSwitch ? TunnelState::disconnected : TunnelState::error) &&
                   now.killSwitchHold == killSwitch;
        };
        ASSERT_TRUE(test::waitUntil(final, 10s));
        EXPECT_FALSE(test::waitUntil([&] { return !final(); }, 500ms));
        auto status = tunnel->currentStatus();
        EXPECT_EQ(status.message,
                  killSwitch ? "Трафик заблокирован: туннель не поднят" : "Соединение потеряно");
        if (killSwitch) {
            // The bridge stays up, leading nowhere, with every route into it.
            auto bridge = engine.runs("tun2socks").back();
            EXPECT_EQ(bridge["args"].back(), "socks5://127.0.0.1:1");
            EXPECT_TRUE(FakeEngine::alive(bridge["pid"].get<pid_t>()));
            EXPECT_THAT(system.routes().dump(), HasSubstr("0.0.0.0/1"));
        } else {
            EXPECT_TRUE(noEngineLeft());
            EXPECT_EQ(system.snapshot(), pristine);
        }
        tunnel->disconnect();
        EXPECT_FALSE(tunnel->currentStatus().killSwitchHold);
        EXPECT_TRUE(noEngineLeft());
        EXPECT_EQ(system.snapshot(), pristine);
    }
}

TEST_F(TunnelWorld, SettingsPersistAndAdBlockAsksForReconnectOnlyWhenConnected) {
    EXPECT_FALSE(make()->setAdBlock(false));
    make()->setKillSwitch(true);
    tunnel = make();
    EXPECT_TRUE(tunnel->currentStatus().killSwitchEnabled);
    EXPECT_FALSE(tunnel->currentStatus().adBlockEnabled);
    tunnel->connect(serverLink, "Сервер", false);
    EXPECT_FALSE(tunnel->setAdBlock(false));
    EXPECT_TRUE(tunnel->setAdBlock(true));
    tunnel->setKillSwitch(false);
    EXPECT_FALSE(make()->currentStatus().killSwitchEnabled);
    EXPECT_TRUE(make()->currentStatus().adBlockEnabled);
}

// The journal's replay and a whole restart are followed in tests/service.
TEST_F(TunnelWorld, StartAfterACrashStopsOnlyOurOrphans) {
    // The engines of a service that was killed, and a process that merely reuses a recorded id.
    auto orphan = ChildProcess::spawn(engine.engineDir() + "/tun2socks", {"-device", "tun://utun9"});
    auto stranger = ChildProcess::spawn("/bin/sleep", {"30"});
    ASSERT_TRUE(test::waitUntil([&] { return engine.runs("tun2socks").size() == 1; }));
    RoutingJournal::saveChildren(
        {{orphan.pid(), *ProcessStartTime::of(orphan.pid()), "tun2socks"}, {stranger.pid(), "1", "xray"}});

    Tunnel::recoverAfterCrash(log);
    EXPECT_TRUE(orphan.waitFor(5s));
    EXPECT_TRUE(stranger.running());
    EXPECT_THAT(messages(), Contains("восстановление: остановлен tun2socks (pid " +
                                     std::to_string(orphan.pid()) + ") от прошлого запуска"));
    EXPECT_TRUE(RoutingJournal::loadChildren().empty());
}

// The service killed after starting the engine and before recording it, where a recovery
// could not know of it: the engine never runs, so nothing of ours is left behind.
TEST_F(TunnelWorld, AServiceKilledBeforeRecordingAnEngineLeavesNoneRunning) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a forked death test may not start threads under ThreadSanitizer";
#endif
    std::string note = root / "unrecorded.pid";
    auto killedInTheGap = environment();
    killedInTheGap.saveChildren = [&](const std::vector<RoutingJournal::Child>& children) {
        if (children.empty()) return true;
        test::writeFile(note, std::to_string(children.front().pid));
        ::raise(SIGKILL);
        return false;
    };
    // The forked service needs a log of its own: the writer thread of ours is not forked.
    EXPECT_EXIT(
        {
            Log service(Paths::daemonLogDir(), "service");
            std::make_shared<Tunnel>(service, killedInTheGap)->connect(serverLink, "Сервер", false);
        },
        testing::KilledBySignal(SIGKILL), "");
    pid_t held = std::stoi(test::readFile(note));
    EXPECT_TRUE(test::waitUntil([&] { return !FakeEngine::alive(held); }));
    EXPECT_TRUE(engine.runs("xray").empty());
    EXPECT_TRUE(RoutingJournal::loadChildren().empty());
}

TEST(Tunnel, AllocTunNamePicksTheFirstFreeNumberFromFour) {
    auto taken = [](int from, int to, int free = -1) {
        std::set<std::string> names;
        for (int n = from; n <= to; ++n)
            if (n != free) names.insert("utun" + std::to_string(n));
        return Tunnel::allocTunName(names);
    };
    EXPECT_EQ(taken(0, 3), "utun4");
    EXPECT_EQ(taken(4, 9), "utun10");
    EXPECT_EQ(taken(0, 31, 31), "utun31");
    EXPECT_THROW(taken(4, 31), TunnelError);
    EXPECT_FALSE(Routing::upInterfaces().contains(Tunnel::allocTunName()));
}

} // namespace
} // namespace orvex

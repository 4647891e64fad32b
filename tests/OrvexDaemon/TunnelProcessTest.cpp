#include "Tunnel.h"

#include "ChildProcess.h"
#include "FakeEngine.h"
#include "FakeSystem.h"
#include "Log.h"
#include "Paths.h"
#include "ProcessStartTime.h"
#include "RoutingJournal.h"
#include "ScriptedRunner.h"
#include "TestSupport.h"
#include "TunnelError.h"
#include "UnixSocket.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <sys/stat.h>
#include <thread>

namespace orvex {
namespace {

using namespace std::chrono_literals;
using test::FakeEngine;
using testing::Contains;
using testing::HasSubstr;

const std::string serverLink = "vless://11111111-2222-3333-4444-555555555555@203.0.113.7:443"
                               "?encryption=none&security=none&type=tcp#Test";

// Engines get their standard streams and nothing else: nothing the tunnel or the service
// opened, nor what the service was itself handed by whoever started it.
const nlohmann::json standardStreams = {0, 1, 2};

// A machine of fake tools and fake engines under a temporary ORVEX_ROOT, and a tunnel on it
// whose waits are short enough for tests.
class TunnelWorld : public testing::Test {
protected:
    TunnelWorld()
        : rootEnv("ORVEX_ROOT", root.path()), homeEnv("HOME", root / "home"), system(root.path()),
          engine(root.path(), root / "engine") {
        Paths::ensureDir(Paths::daemonLogDir());
        log.setEnabled(true);
        timing.portWait = 5s;
        timing.portPoll = 20ms;
        timing.bridgeSettle = 200ms;
        timing.stopGrace = 500ms;
        timing.firstCheck = 100ms;
        timing.checkInterval = 100ms;
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
        environment.engineDir = [this] { return engine.folder(); };
        environment.timing = timing;
        return environment;
    }
    std::shared_ptr<Tunnel> make() { return std::make_shared<Tunnel>(log, environment()); }

    std::vector<std::string> messages() { return test::messagesOf(log); }
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
    test::ScopedEnv rootEnv;
    test::ScopedEnv homeEnv;
    test::FakeSystem system;
    FakeEngine engine;
    Log log{Paths::daemonLogDir(), "service"};
    Tunnel::Timing timing;
    std::string pristine;
    std::shared_ptr<Tunnel> tunnel;
};

TEST_F(TunnelWorld, ConnectBringsUpEngineBridgeAndRoutesAndDisconnectUndoesAll) {
    // Descriptors of the kind the service holds must not reach the engines.
    auto listening = UnixSocket::listen(root / "service.sock");
    // Left readable by everybody by an older version.
    test::writeFile(Paths::daemonLogDir() + "/engine-xray.log", "", 0644);
    tunnel = make();
    tunnel->connect(serverLink, "Амстердам", false);

    auto status = tunnel->currentStatus();
    EXPECT_EQ(status.state, TunnelState::connected);
    EXPECT_EQ(status.serverName, "Амстердам");
    try {
        tunnel->connect(serverLink, "Другой", false);
        ADD_FAILURE() << "a second connect was accepted";
    } catch (const TunnelError& error) {
        EXPECT_EQ(error.which(), TunnelError::Case::busy);
        EXPECT_STREQ(error.what(), "уже подключено или подключается");
    }
    EXPECT_EQ(tunnel->currentStatus(), status);

    struct stat config {};
    ASSERT_EQ(::stat(Paths::generatedConfig().c_str(), &config), 0);
    EXPECT_EQ(config.st_mode & 0777, 0600u);
    auto settings = nlohmann::json::parse(test::readFile(Paths::generatedConfig()));
    auto port = settings["inbounds"][0]["port"].get<int>();
    auto user = settings["inbounds"][0]["settings"]["accounts"][0];

    auto xray = engine.runs("xray").at(0);
    EXPECT_EQ(xray["args"], nlohmann::json({"run", "-config", Paths::generatedConfig()}));
    EXPECT_EQ(xray["cwd"], engine.folder());
    EXPECT_EQ(xray["fds"], standardStreams);
    auto bridge = engine.runs("tun2socks").at(0);
    EXPECT_EQ(bridge["args"],
              nlohmann::json({"-device", "tun://utun5", "-proxy",
                              "socks5://" + user["user"].get<std::string>() + ":" +
                                  user["pass"].get<std::string>() + "@127.0.0.1:" + std::to_string(port)}));
    EXPECT_EQ(bridge["fds"], standardStreams);
    EXPECT_THAT(test::readFile(Paths::daemonLogDir() + "/engine-xray.log"), HasSubstr("listening"));
    for (const char* program : {"xray", "tun2socks"}) {
        struct stat engineLog {};
        ASSERT_EQ(::stat((Paths::daemonLogDir() + "/engine-" + program + ".log").c_str(), &engineLog), 0);
        EXPECT_EQ(engineLog.st_mode & 0777, 0600u) << program;
    }

    auto routes = system.routes().dump();
    EXPECT_THAT(routes, HasSubstr("203.0.113.7"));
    EXPECT_THAT(routes, HasSubstr("utun5"));
    EXPECT_EQ(RoutingJournal::loadChildren().size(), 2u);

    auto lines = messages();
    for (const std::string& line : std::vector<std::string>{
             "connect: запрошен, сервер=Амстердам",
             "connect: шлюз=192.168.1.1 локальный адрес= интерфейс=en0", "connect: сплит=включён",
             "connect: xray поднял локальный порт " + std::to_string(port),
             "connect: tun2socks поднял интерфейс utun5", "connect: готово",
             "наблюдение: запущено (поколение 1)"})
        EXPECT_THAT(lines, Contains(line));

    tunnel->disconnect();
    EXPECT_EQ(tunnel->currentStatus().state, TunnelState::disconnected);
    EXPECT_TRUE(noEngineLeft());
    EXPECT_EQ(system.snapshot(), pristine);
    EXPECT_TRUE(RoutingJournal::loadChildren().empty());
    EXPECT_TRUE(logged("наблюдение: поколение сменилось, выхожу"));
}

TEST_F(TunnelWorld, EveryFailedStepIsReportedOnceAndLeavesNothingBehind) {
    tunnel = make();
    auto expectFailure = [&](const std::string& raw, const std::string& text) {
        try {
            tunnel->connect(raw, "Сервер", false);
            ADD_FAILURE() << "connected although " << text;
        } catch (const std::exception& error) {
            EXPECT_EQ(error.what(), text);
        }
        auto status = tunnel->currentStatus();
        EXPECT_EQ(status.state, TunnelState::error);
        EXPECT_EQ(status.message, text);
        EXPECT_EQ(count("connect: ошибка: " + text), 1u) << text;
        EXPECT_TRUE(noEngineLeft()) << text;
        EXPECT_EQ(system.snapshot(), pristine) << text;
    };

    expectFailure("vless://11111111-2222-3333-4444-555555555555@203.0.113.7:99999",
                  "в ссылке некорректный порт");

    engine.setXrayMode(FakeEngine::XrayMode::exitAtOnce);
    expectFailure(serverLink, "движок завершился сразу после запуска: xray");
    EXPECT_THAT(test::readFile(Paths::daemonLogDir() + "/engine-xray.log"),
                HasSubstr("refuse its configuration"));

    engine.setXrayMode(FakeEngine::XrayMode::neverListen);
    timing.portWait = 300ms;
    tunnel = make();
    expectFailure(serverLink, "движок не поднял локальный порт");

    engine.setXrayMode(FakeEngine::XrayMode::listen);
    engine.setBridgeExitsAtOnce(true);
    expectFailure(serverLink, "не удалось поднять TUN-интерфейс utun5");
    engine.setBridgeExitsAtOnce(false);

    auto starts = engine.runs("xray").size();
    auto routes = system.routes();
    auto withoutDefault = nlohmann::json::array();
    for (const auto& route : routes)
        if (route["dest"] != "default") withoutDefault.push_back(route);
    system.setRoutes(withoutDefault);
    pristine = system.snapshot();
    expectFailure(serverLink, "не удалось определить текущий шлюз — проверьте подключение к сети");
    system.setRoutes(routes);
    pristine = system.snapshot();

    std::filesystem::remove(engine.folder() + "/geosite.dat");
    expectFailure("not a link", "не найден файл движка: " + engine.folder() + "/geosite.dat");
    EXPECT_EQ(engine.runs("xray").size(), starts);
}

TEST_F(TunnelWorld, StatusAnswersDuringAConnectAndAStubbornEngineIsKilled) {
    engine.setXrayMode(FakeEngine::XrayMode::ignoreTerm);
    test::writeFile(Paths::daemonLogDir() + "/split.state", " 0\n");
    tunnel = make();
    // The fake tools answer slowly enough that the connect is still running while polled.
    std::thread connecting([&] { tunnel->connect(serverLink, "Сервер", false); });
    EXPECT_TRUE(
        test::waitUntil([&] { return tunnel->currentStatus().state == TunnelState::connecting; }, 5s));
    EXPECT_THROW(tunnel->connect(serverLink, "Сервер", false), TunnelError);
    connecting.join();
    EXPECT_EQ(tunnel->currentStatus().state, TunnelState::connected);
    EXPECT_THAT(messages(), Contains("connect: сплит=выключен"));
    EXPECT_FALSE(nlohmann::json::parse(test::readFile(Paths::generatedConfig())).contains("routing"));
    for (const auto& call : system.calls()) EXPECT_THAT(call, testing::Not(HasSubstr("-ifscope")));

    tunnel->disconnect();
    EXPECT_EQ(count("stop: xray не завершился по-хорошему, снят принудительно"), 1u);
    EXPECT_EQ(count("stop: tun2socks не завершился по-хорошему, снят принудительно"), 0u);
    EXPECT_TRUE(noEngineLeft());

    // A disconnect during a connect waits for it and then takes all of it down.
    engine.setXrayMode(FakeEngine::XrayMode::listen);
    std::thread superseded([&] { EXPECT_NO_THROW(tunnel->connect(serverLink, "Сервер", false)); });
    EXPECT_TRUE(
        test::waitUntil([&] { return tunnel->currentStatus().state == TunnelState::connecting; }, 5s));
    tunnel->disconnect();
    superseded.join();
    EXPECT_EQ(tunnel->currentStatus().state, TunnelState::disconnected);
    EXPECT_TRUE(noEngineLeft());
    EXPECT_EQ(system.snapshot(), pristine);
}

TEST_F(TunnelWorld, MonitorReconnectsAfterTheEngineDiesAndAfterANetworkChange) {
    tunnel = make();
    tunnel->connect(serverLink, "Сервер", false);
    pid_t first = lastPid("xray");
    ::kill(first, SIGKILL);

    EXPECT_TRUE(logged("наблюдение: движок не отвечает (1/2), порт=false процессы=false"));
    EXPECT_TRUE(logged("наблюдение: движок не отвечает (2/2), порт=false процессы=false"));
    EXPECT_TRUE(logged("наблюдение: движок остановился, пробую переподключиться"));
    EXPECT_TRUE(logged("переподключение: попытка 1 через 1 с"));
    EXPECT_TRUE(logged("переподключение: удалось"));
    EXPECT_EQ(tunnel->currentStatus().state, TunnelState::connected);
    EXPECT_NE(lastPid("xray"), first);
    EXPECT_EQ(count("наблюдение: запущено (поколение 1)"), 2u);

    auto routes = system.routes();
    for (auto& route : routes)
        if (route["dest"] == "default" && route["family"] == "inet") route["gateway"] = "192.168.1.254";
    system.setRoutes(routes);
    EXPECT_TRUE(logged("наблюдение: сменилась сеть по умолчанию, переподключаюсь"));
    EXPECT_TRUE(logged("переподключение после смены сети: удалось"));
    EXPECT_THAT(messages(), Contains("connect: шлюз=192.168.1.254 локальный адрес= интерфейс=en0"));
    EXPECT_EQ(tunnel->currentStatus().state, TunnelState::connected);
    EXPECT_EQ(count("наблюдение: запущено (поколение 1)"), 3u);
}

TEST_F(TunnelWorld, ExhaustedReconnectsReportTheLossOrHoldTrafficWithTheKillSwitch) {
    for (bool killSwitch : {false, true}) {
        SCOPED_TRACE(killSwitch);
        engine.setXrayMode(FakeEngine::XrayMode::listen);
        tunnel = make();
        tunnel->setKillSwitch(killSwitch);
        tunnel->connect(serverLink, "Сервер", false);
        engine.setXrayMode(FakeEngine::XrayMode::exitAtOnce);
        ::kill(lastPid("xray"), SIGKILL);
        ASSERT_TRUE(test::waitUntil(
            [&] { return count("переподключение: попытки исчерпаны") == (killSwitch ? 2u : 1u); }, 30s));
        for (const char* line :
             {"переподключение: попытка 1 через 1 с", "переподключение: попытка 2 через 1 с",
              "переподключение: попытка 3 через 1 с"})
            EXPECT_EQ(count(line), killSwitch ? 2u : 1u);

        auto status = tunnel->currentStatus();
        if (!killSwitch) {
            EXPECT_EQ(status.state, TunnelState::error);
            EXPECT_EQ(status.message, "Соединение потеряно");
            EXPECT_TRUE(noEngineLeft());
            EXPECT_EQ(system.snapshot(), pristine);
        } else {
            EXPECT_EQ(status.state, TunnelState::disconnected);
            EXPECT_TRUE(status.killSwitchHold);
            EXPECT_EQ(status.message, "Трафик заблокирован: туннель не поднят");
            auto bridge = engine.runs("tun2socks").back();
            EXPECT_EQ(bridge["args"].back(), "socks5://127.0.0.1:1");
            EXPECT_TRUE(FakeEngine::alive(bridge["pid"].get<pid_t>()));
            EXPECT_THAT(system.routes().dump(), HasSubstr("0.0.0.0/1"));
            EXPECT_TRUE(logged("kill switch: блокировка установлена на utun5"));
        }
        tunnel->disconnect();
        EXPECT_FALSE(tunnel->currentStatus().killSwitchHold);
        EXPECT_TRUE(noEngineLeft());
        EXPECT_EQ(system.snapshot(), pristine);
    }
}

TEST_F(TunnelWorld, DisconnectDuringAPauseCancelsThePendingAttempt) {
    tunnel = make();
    tunnel->connect(serverLink, "Сервер", false);
    ::kill(lastPid("xray"), SIGKILL);
    ASSERT_TRUE(logged("переподключение: попытка 1 через 1 с"));
    EXPECT_EQ(tunnel->currentStatus().state, TunnelState::connecting);
    auto starts = engine.runs("xray").size();
    tunnel->disconnect();
    EXPECT_FALSE(test::waitUntil([&] { return engine.runs("xray").size() > starts; }, 2s));
    EXPECT_EQ(tunnel->currentStatus().state, TunnelState::disconnected);
    EXPECT_EQ(count("переподключение: удалось"), 0u);
}

TEST_F(TunnelWorld, SettingsPersistAndAdBlockAsksForReconnectOnlyWhenItMatters) {
    tunnel = make();
    EXPECT_FALSE(tunnel->setAdBlock(true));
    EXPECT_FALSE(tunnel->setAdBlock(false));
    EXPECT_EQ(test::readFile(Paths::daemonLogDir() + "/adblock.state"), "0");
    tunnel->setKillSwitch(true);
    EXPECT_TRUE(std::filesystem::exists(Paths::daemonLogDir() + "/killswitch.state"));

    auto restarted = make();
    auto status = restarted->currentStatus();
    EXPECT_TRUE(status.killSwitchEnabled);
    EXPECT_FALSE(status.adBlockEnabled);

    restarted->connect(serverLink, "Сервер", false);
    EXPECT_FALSE(restarted->setAdBlock(false));
    EXPECT_TRUE(restarted->setAdBlock(true));
    EXPECT_TRUE(restarted->currentStatus().adBlockEnabled);
    restarted->setKillSwitch(false);
    EXPECT_FALSE(std::filesystem::exists(Paths::daemonLogDir() + "/killswitch.state"));
    EXPECT_THAT(messages(), Contains("блокировка рекламы: включена"));
    EXPECT_THAT(messages(), Contains("kill switch: выключен"));
    restarted->disconnect();
}

TEST_F(TunnelWorld, StartAfterACrashStopsOnlyOurOrphansAndReplaysTheJournal) {
    // The engines of a service that was killed, and a process that merely reuses a recorded id.
    auto orphan =
        ChildProcess::spawn(engine.folder() + "/tun2socks", {"-device", "tun://utun9", "-proxy", "x"});
    auto stranger = ChildProcess::spawn("/bin/sleep", {"30"});
    ASSERT_TRUE(test::waitUntil([&] { return engine.runs("tun2socks").size() == 1; }));
    RoutingJournal::saveChildren(
        {{orphan.pid(), *ProcessStartTime::of(orphan.pid()), "tun2socks"}, {stranger.pid(), "1", "xray"}});
    test::ScriptedRunner runner;
    RoutingJournal::save({"203.0.113.7", "", "", false, {}});

    Tunnel::recoverAfterCrash(log, runner.runner());
    EXPECT_TRUE(orphan.waitFor(5s));
    EXPECT_TRUE(stranger.running());
    EXPECT_THAT(messages(), Contains("восстановление: остановлен tun2socks (pid " +
                                     std::to_string(orphan.pid()) + ") от прошлого запуска"));
    EXPECT_THAT(runner.lines(), Contains("route -n delete -host 203.0.113.7"));
    EXPECT_TRUE(RoutingJournal::loadChildren().empty());
    EXPECT_FALSE(RoutingJournal::load());
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

TEST_F(TunnelWorld, ExitAddressAndSpeedTestAgainstLocalServers) {
    httplib::Server server;
    std::string answer = "198.51.100.4\r\n";
    std::string askedBytes;
    server.Get("/", [&](const httplib::Request&, httplib::Response& response) {
        response.set_content(answer, "text/plain");
    });
    server.Get("/__down", [&](const httplib::Request& request, httplib::Response& response) {
        askedBytes = request.get_param_value("bytes");
        response.set_content(std::string(10'000'000, 'x'), "application/octet-stream");
    });
    int port = server.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { server.listen_after_bind(); });
    std::string base = "http://127.0.0.1:" + std::to_string(port);
    test::ScopedEnv exitURL("ORVEX_EXIT_IP_URL", base + "/");
    test::ScopedEnv speedURL("ORVEX_SPEEDTEST_URL", base);

    tunnel = make();
    EXPECT_EQ(tunnel->refreshExitIP().exitIP, "198.51.100.4");
    EXPECT_THAT(messages(), Contains("проверка: внешний адрес 198.51.100.4"));
    try {
        tunnel->speedTest();
        ADD_FAILURE() << "measured without a tunnel";
    } catch (const TunnelError& error) {
        EXPECT_STREQ(error.what(), "замер возможен только при подключённом туннеле");
    }

    tunnel->connect(serverLink, "Сервер", false);
    double mbps = tunnel->speedTest();
    EXPECT_GT(mbps, 0);
    EXPECT_EQ(askedBytes, "10000000");
    char figure[32];
    std::snprintf(figure, sizeof figure, "%.1f", mbps);
    EXPECT_THAT(messages(), Contains(std::string("замер: ") + figure + " Мбит/с"));

    server.stop();
    serving.join();
    EXPECT_EQ(tunnel->refreshExitIP().exitIP, "");
    EXPECT_THAT(messages(), Contains("проверка: внешний адрес не определён"));
    EXPECT_THROW(tunnel->speedTest(), TunnelError);
}

} // namespace
} // namespace orvex

// The real service capturing a client namespace's traffic with nftables and Debian's v2ray, in
// the two-namespace world of tests/netns/world: where traffic and DNS queries come out, what
// slips past the tunnel while its engine fails, and what a killed service leaves behind.
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <set>
#include <unistd.h>

#include "ChildProcess.h"
#include "DaemonClient.h"
#include "IPCProtocol.h"
#include "Shell.h"
#include "TestSupport.h"

using namespace orvex;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// The world's addresses, as tests/netns/world lays them out.
const std::string clientIP = "10.77.0.2";
const std::string clientIP6 = "fd77::2";
const std::string vlessIP = "10.78.0.1";
const std::string farEcho = "http://10.78.0.10/ip";
const std::string farEcho6 = "http://[fd77::1]/ip";
const std::string plainResolver = "10.78.0.53";
const std::set<std::string> openPair{"10.78.0.21", "10.78.0.22"};
const std::set<std::string> adsPair{"10.78.0.31", "10.78.0.32"};
const std::string vlessLink =
    "vless://b831381d-6324-4d53-ad4f-8cda48b30811@" + vlessIP + ":443?encryption=none&type=tcp#World";

Shell::Result world(const std::vector<std::string>& arguments, double timeout = 20) {
    return Shell::run(ORVEX_NETNS_WORLD, arguments, timeout);
}

Shell::Result ip(const std::vector<std::string>& arguments) {
    return Shell::run("/usr/sbin/ip", arguments, 10);
}

// Alive and not a zombie waiting for a parent that is gone.
bool processAlive(pid_t pid) {
    std::string stat = test::readFile("/proc/" + std::to_string(pid) + "/stat");
    auto close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

// One world per test, named after the test process so parallel runs keep apart; down again
// whatever the test did.
class World {
public:
    World() {
        auto made = world({"up", name_}, 60);
        if (made.code == 77) skipReason_ = made.output;
        if (made.code != 0 && made.code != 77) {
            world({"down", name_});
            throw std::runtime_error("the namespaces could not be set up: " + made.output);
        }
    }
    ~World() { world({"down", name_}); }
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    const std::string& name() const { return name_; }
    std::string client() const { return name_ + "-c"; }
    const std::string& skipReason() const { return skipReason_; }

    // A GET from the client namespace: the body, nothing when the server was out of reach.
    std::optional<std::string> get(const std::string& url) const {
        auto got = world({"get", name_, url});
        return got.ok() ? std::optional(got.output) : std::nullopt;
    }
    // The address in the answer to an A query from the client, "none" without one.
    std::string resolve(const std::string& server, bool tcp = false) const {
        return world(tcp ? std::vector<std::string>{"dns", name_, server, "tcp"}
                         : std::vector<std::string>{"dns", name_, server})
            .output;
    }
    // Packets from the client that headed elsewhere than the VLESS server: "IPv4 IPv6".
    std::string leaks() const { return world({"leaks", name_}).output; }
    void resetLeaks() const { world({"leaks", name_, "reset"}); }

    // Everything the capture touches in the client namespace: equal texts, equal set-ups.
    std::string networkState() const {
        std::string state;
        for (const auto& command : std::vector<std::vector<std::string>>{
                 {"netns", "exec", client(), "/usr/sbin/nft", "list", "ruleset"},
                 {"-n", client(), "rule"},
                 {"-n", client(), "-6", "rule"},
                 {"-n", client(), "route", "show", "table", "all"}})
            state += ip(command).output + "\n--\n";
        return state;
    }

private:
    std::string name_ = "ox" + std::to_string(::getpid());
    std::string skipReason_;
};

// The real `orvex -service` as Linux runs it, inside the client namespace, under a scratch
// ORVEX_ROOT: the program in opt/orvex, the real nft and ip behind the relocated tool paths,
// Debian's v2ray as the system engine, the world's resolvers as the DNS pairs and its far
// server as the exit-address echo. ORVEX_ROOT and the platform stay set for the life of the
// object, so DaemonClient in the test reaches this service.
class Service {
public:
    explicit Service(std::string ns) : ns_(std::move(ns)) {
        for (auto [tool, real] :
             {std::pair{"/usr/sbin/nft", "/usr/sbin/nft"}, std::pair{"/sbin/ip", "/usr/sbin/ip"},
              std::pair{"/usr/bin/v2ray", "/usr/bin/v2ray"}}) {
            fs::create_directories(fs::path(root() + tool).parent_path());
            fs::create_symlink(real, root() + tool);
        }
        fs::create_directories(root() + "/opt/orvex/engine");
        fs::create_directories(root() + "/home");
        fs::create_directories(root() + "/run");
        std::error_code error;
        fs::create_hard_link(ORVEX_EXECUTABLE, program(), error);
        if (error) fs::copy_file(ORVEX_EXECUTABLE, program());
        test::writeFile(root() + "/var/log/orvex/logging.on", "");
        // The country split needs v2ray's geo files, which are not part of this world.
        test::writeFile(stateDir() + "/split.state", "0");
    }
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    const std::string& root() const { return dir_.path(); }
    std::string stateDir() const { return root() + "/var/lib/orvex"; }
    std::string program() const { return root() + "/opt/orvex/orvexd"; }
    std::string log() const { return test::readFile(root() + "/var/log/orvex/service.log"); }

    void start() {
        ChildProcess::Options options;
        options.output = ChildProcess::Redirect::toFile(root() + "/service.out");
        options.error = options.output;
        process_.emplace(
            ChildProcess::spawn("/usr/sbin/ip", {"netns", "exec", ns_, program(), "-service"}, options));
        if (!test::waitUntil([&] { return DaemonClient::isRunning() || !process_->running(); }, 30s) ||
            !process_->running())
            throw std::runtime_error("the service did not start:\n" +
                                     test::readFile(root() + "/service.out") + log());
    }
    void crash() {
        process_->kill();
        process_->wait();
    }

    // The engine the service started, from the list of children it keeps; 0 when none.
    pid_t enginePid() const {
        std::ifstream file(stateDir() + "/engine.pids");
        auto children = nlohmann::json::parse(file, nullptr, false);
        if (children.is_array())
            for (const auto& child : children)
                if (child.value("name", "") == "xray") return child.value("pid", 0);
        return 0;
    }
    // From now on every engine start ends at once.
    void breakEngine() const {
        fs::remove(root() + "/usr/bin/v2ray");
        test::writeFile(root() + "/usr/bin/v2ray", "#!/bin/sh\nexit 1\n", 0755);
    }

private:
    std::string ns_;
    test::TempDir dir_;
    test::ScopedEnv root_{"ORVEX_ROOT", dir_.path()};
    test::ScopedEnv platform_{"ORVEX_PLATFORM", "linux"};
    test::ScopedEnv home_{"HOME", dir_.path() + "/home"};
    test::ScopedEnv dnsPairs_{"ORVEX_DNS_PAIRS", "10.78.0.21,10.78.0.22,10.78.0.31,10.78.0.32"};
    test::ScopedEnv exitIP_{"ORVEX_EXIT_IP_URL", farEcho};
    test::ScopedEnv speedTest_{"ORVEX_SPEEDTEST_URL", "http://10.78.0.10/"};
    std::optional<ChildProcess> process_;
};

} // namespace

TEST(NetnsCapture, TunnelCarriesTrafficAndDnsAndLeavesTheNetworkAsItFoundIt) {
    World world;
    if (!world.skipReason().empty()) GTEST_SKIP() << world.skipReason();
    Service service(world.client());
    service.start();
    std::string before = world.networkState();

    // Directly, the far side sees the client itself and the machine's resolver answers.
    EXPECT_EQ(world.get(farEcho), clientIP);
    EXPECT_EQ(world.get(farEcho6), clientIP6);
    EXPECT_EQ(world.resolve(plainResolver), plainResolver);

    DaemonClient::setAdBlock(false);
    ASSERT_EQ(DaemonClient::connect(vlessLink, "Мир").state, TunnelState::connected) << service.log();
    EXPECT_EQ(world.get(farEcho), vlessIP) << service.log();
    // Every query is steered to the pair of the ad-blocking setting, whatever resolver was asked.
    for (int query = 0; query < 2; ++query)
        EXPECT_TRUE(openPair.contains(world.resolve(plainResolver))) << service.log();
    EXPECT_TRUE(openPair.contains(world.resolve(plainResolver, true))) << "over TCP\n" << service.log();
    // IPv6 would pass beside the tunnel: it is refused while connected, at once, so that
    // applications fall back to IPv4 instead of waiting.
    auto asked = std::chrono::steady_clock::now();
    EXPECT_FALSE(world.get(farEcho6));
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(1500))
        << "the GET gives up after 2 s";
    // The service's own check goes through the tunnel as well.
    EXPECT_EQ(DaemonClient::checkInternet().exitIP, vlessIP) << service.log();

    // Ad blocking takes effect with the next connection, and with it the other pair.
    EXPECT_TRUE(DaemonClient::setAdBlock(true).needReconnect);
    DaemonClient::disconnect();
    ASSERT_EQ(DaemonClient::connect(vlessLink, "Мир").state, TunnelState::connected) << service.log();
    for (int query = 0; query < 2; ++query)
        EXPECT_TRUE(adsPair.contains(world.resolve(plainResolver))) << service.log();

    EXPECT_EQ(DaemonClient::disconnect().state, TunnelState::disconnected);
    EXPECT_EQ(world.networkState(), before) << service.log();
    EXPECT_EQ(world.get(farEcho), clientIP);
    EXPECT_EQ(world.get(farEcho6), clientIP6);
    EXPECT_EQ(world.resolve(plainResolver), plainResolver);
}

TEST(NetnsCapture, KillSwitchLetsNothingPastTheTunnelWhileTheEngineFails) {
    World world;
    if (!world.skipReason().empty()) GTEST_SKIP() << world.skipReason();
    Service service(world.client());
    service.start();
    std::string before = world.networkState();
    DaemonClient::setKillSwitch(true);
    ASSERT_EQ(DaemonClient::connect(vlessLink, "Мир").state, TunnelState::connected) << service.log();

    // Datagrams and connection attempts to the far side, IPv4 and IPv6, all along.
    ChildProcess::Options quiet;
    quiet.output = ChildProcess::Redirect::toFile(service.root() + "/traffic.out");
    quiet.error = quiet.output;
    auto traffic = ChildProcess::spawn(ORVEX_NETNS_WORLD, {"traffic", world.name(), "240"}, quiet);
    world.resetLeaks();

    // The first moment anything passed beside the tunnel, and what the service said then.
    auto started = std::chrono::steady_clock::now();
    std::string firstLeak;
    auto watch = [&](const char* phase) {
        std::string seen = world.leaks();
        if (firstLeak.empty() && seen != "0 0")
            firstLeak = std::string(phase) + ", " +
                        std::to_string(std::chrono::duration_cast<std::chrono::seconds>(
                                           std::chrono::steady_clock::now() - started)
                                           .count()) +
                        " s in: " + seen + " packets (IPv4 IPv6), status \"" +
                        DaemonClient::status().message + "\"";
    };
    auto steady = [&](const char* phase) {
        for (int request = 0; request < 10; ++request) {
            EXPECT_EQ(world.get(farEcho), vlessIP) << phase;
            watch(phase);
        }
    };
    steady("connected");

    // The engine dies and the service brings up another.
    pid_t first = service.enginePid();
    ASSERT_GT(first, 0);
    ::kill(first, SIGKILL);
    EXPECT_TRUE(test::waitUntil(
        [&] {
            watch("reconnecting");
            pid_t now = service.enginePid();
            return now > 0 && now != first && DaemonClient::status().state == TunnelState::connected;
        },
        60s))
        << service.log();
    steady("reconnected");

    // Now no engine can start: once the reconnects give up, the kill switch holds everything.
    service.breakEngine();
    ::kill(service.enginePid(), SIGKILL);
    EXPECT_TRUE(test::waitUntil(
        [&] {
            watch("reconnecting to a broken engine");
            return service.log().find("переподключение: попытки исчерпаны") != std::string::npos;
        },
        120s))
        << service.log();
    auto held = DaemonClient::status();
    EXPECT_TRUE(held.killSwitchHold);
    EXPECT_EQ(held.message, "Трафик заблокирован: туннель не поднят");
    EXPECT_FALSE(world.get(farEcho));
    watch("held");
    EXPECT_EQ(world.leaks(), "0 0") << "first seen " << firstLeak << "\n" << service.log();
    traffic.stop();

    EXPECT_EQ(DaemonClient::disconnect().state, TunnelState::disconnected);
    EXPECT_EQ(world.get(farEcho), clientIP);
    EXPECT_EQ(world.networkState(), before) << service.log();
}

TEST(NetnsCapture, ServiceKilledWhileConnectedLeavesNothingOnceRestarted) {
    World world;
    if (!world.skipReason().empty()) GTEST_SKIP() << world.skipReason();
    Service service(world.client());
    service.start();
    std::string before = world.networkState();
    ASSERT_EQ(DaemonClient::connect(vlessLink, "Мир").state, TunnelState::connected) << service.log();
    pid_t engine = service.enginePid();

    service.crash();
    // What the service had set up outlives it until the next start undoes it.
    EXPECT_NE(world.networkState(), before);
    service.start();
    EXPECT_EQ(world.networkState(), before) << service.log();
    EXPECT_TRUE(test::waitUntil([&] { return !processAlive(engine); }, 10s));
    EXPECT_EQ(world.get(farEcho), clientIP);
}

// The real service capturing a client namespace's traffic with nftables and Debian's v2ray, in
// the two-namespace world of tests/netns/world: where traffic and DNS queries come out, what
// slips past the tunnel while its engine fails, and what a killed service leaves behind.
#include <chrono>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <iostream>
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
const std::string clientIP = "10.77.0.2", clientIP6 = "fd77::2", vlessIP = "10.78.0.1";
const std::string farEcho = "http://10.78.0.10/ip", farEcho6 = "http://[fd77::1]/ip",
                  plainResolver = "10.78.0.53";
const std::set<std::string> openPair{"10.78.0.21", "10.78.0.22"}, adsPair{"10.78.0.31", "10.78.0.32"};
const std::string vlessLink =
    "vless://b831381d-6324-4d53-ad4f-8cda48b30811@" + vlessIP + ":443?encryption=none&type=tcp#World";

Shell::Result world(const std::vector<std::string>& arguments, double timeout = 20) {
    return Shell::run(ORVEX_NETNS_WORLD, arguments, timeout);
}

// A world of its own for each test, named after the test process so parallel runs keep apart,
// and in its client namespace the real `orvex -service` as Linux runs it, under a scratch
// ORVEX_ROOT: the real nft and ip behind the relocated tool paths, Debian's v2ray as the system
// engine, the world's resolvers as the DNS pairs and its far server as the exit-address echo.
class NetnsCapture : public ::testing::Test {
protected:
    void SetUp() override {
        auto made = world({"up", name_}, 60);
        if (made.code == 77) GTEST_SKIP() << made.output;
        ASSERT_EQ(made.code, 0) << "the namespaces could not be set up: " << made.output;
        for (std::string tool : {"/usr/sbin/nft", "/sbin/ip", "/usr/bin/v2ray"}) {
            fs::create_directories(fs::path(root() + tool).parent_path());
            fs::create_symlink(tool == "/sbin/ip" ? "/usr/sbin/ip" : tool, root() + tool);
        }
        for (const char* folder : {"/opt/orvex/engine", "/home", "/run"})
            fs::create_directories(root() + folder);
        fs::copy_file(ORVEX_EXECUTABLE, root() + "/opt/orvex/orvexd");
        test::writeFile(root() + "/var/log/orvex/logging.on", "");
        // The country split needs v2ray's geo files, which are not part of this world.
        test::writeFile(stateDir() + "/split.state", "0");
        startService();
        before_ = networkState();
    }
    void TearDown() override {
        if (HasFailure()) std::cout << "service log:\n" << log();
        world({"down", name_});
    }

    const std::string& root() const { return dir_.path(); }
    std::string stateDir() const { return root() + "/var/lib/orvex"; }
    std::string log() const { return test::readFile(root() + "/var/log/orvex/service.log"); }

    void startService() {
        ChildProcess::Options options;
        options.output = ChildProcess::Redirect::toFile(root() + "/service.out");
        options.error = options.output;
        service_.emplace(ChildProcess::spawn(
            "/usr/sbin/ip", {"netns", "exec", name_ + "-c", root() + "/opt/orvex/orvexd", "-service"},
            options));
        ASSERT_TRUE(test::waitUntil([&] { return DaemonClient::isRunning() || !service_->running(); }, 30s) &&
                    service_->running())
            << "the service did not start:\n"
            << test::readFile(root() + "/service.out");
    }

    // The engine the service started, from the list of children it keeps; 0 when none.
    pid_t enginePid() const {
        auto children = nlohmann::json::parse(test::readFile(stateDir() + "/engine.pids"), nullptr, false);
        if (children.is_array())
            for (const auto& child : children)
                if (child.value("name", "") == "xray") return child.value("pid", 0);
        return 0;
    }

    // From the client namespace: a GET's body (nothing when the server was out of reach), the
    // address in the answer to an A query ("none" without one), and the packets that headed
    // elsewhere than the VLESS server since the last look ("IPv4 IPv6").
    std::optional<std::string> get(const std::string& url) const {
        auto got = world({"get", name_, url});
        return got.ok() ? std::optional(got.output) : std::nullopt;
    }
    std::string resolve(const std::string& server, const char* over = "udp") const {
        return world({"dns", name_, server, over}).output;
    }
    std::string leaks() const { return world({"leaks", name_}).output; }

    // Everything the capture touches in the client namespace: equal texts, equal set-ups.
    std::string networkState() const {
        std::string state, client = name_ + "-c";
        for (const auto& command : std::vector<std::vector<std::string>>{
                 {"netns", "exec", client, "/usr/sbin/nft", "list", "ruleset"},
                 {"-n", client, "rule"},
                 {"-n", client, "-6", "rule"},
                 {"-n", client, "route", "show", "table", "all"}})
            state += Shell::run("/usr/sbin/ip", command, 10).output + "\n--\n";
        return state;
    }

    std::string name_ = "ox" + std::to_string(::getpid());
    test::TempDir dir_;
    test::ScopedEnv root_{"ORVEX_ROOT", dir_.path()};
    test::ScopedEnv platform_{"ORVEX_PLATFORM", "linux"};
    test::ScopedEnv home_{"HOME", dir_.path() + "/home"};
    test::ScopedEnv dnsPairs_{"ORVEX_DNS_PAIRS", "10.78.0.21,10.78.0.22,10.78.0.31,10.78.0.32"};
    test::ScopedEnv exitIP_{"ORVEX_EXIT_IP_URL", farEcho};
    std::optional<ChildProcess> service_;
    std::string before_;
};

} // namespace

TEST_F(NetnsCapture, TunnelCarriesTrafficAndDnsAndLeavesTheNetworkAsItFoundIt) {
    // Directly, the far side sees the client itself and the machine's resolver answers.
    EXPECT_EQ(get(farEcho), clientIP);
    EXPECT_EQ(get(farEcho6), clientIP6);
    EXPECT_EQ(resolve(plainResolver), plainResolver);

    DaemonClient::setAdBlock(false);
    ASSERT_EQ(DaemonClient::connect(vlessLink, "Мир").state, TunnelState::connected);
    EXPECT_EQ(get(farEcho), vlessIP);
    // Every query is steered to the pair of the ad-blocking setting, whatever resolver was asked.
    for (const char* over : {"udp", "udp", "tcp"})
        EXPECT_TRUE(openPair.contains(resolve(plainResolver, over))) << over;
    // IPv6 would pass beside the tunnel: it is refused while connected, at once, so that
    // applications fall back to IPv4 instead of waiting.
    auto asked = std::chrono::steady_clock::now();
    EXPECT_FALSE(get(farEcho6));
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 1500ms) << "the GET gives up after 2 s";
    // The service's own check goes through the tunnel as well.
    EXPECT_EQ(DaemonClient::checkInternet().exitIP, vlessIP);

    // Ad blocking takes effect with the next connection, and with it the other pair.
    EXPECT_TRUE(DaemonClient::setAdBlock(true).needReconnect);
    DaemonClient::disconnect();
    ASSERT_EQ(DaemonClient::connect(vlessLink, "Мир").state, TunnelState::connected);
    for (int query = 0; query < 2; ++query) EXPECT_TRUE(adsPair.contains(resolve(plainResolver)));

    EXPECT_EQ(DaemonClient::disconnect().state, TunnelState::disconnected);
    EXPECT_EQ(networkState(), before_);
    EXPECT_EQ(get(farEcho), clientIP);
    EXPECT_EQ(get(farEcho6), clientIP6);
    EXPECT_EQ(resolve(plainResolver), plainResolver);
}

TEST_F(NetnsCapture, KillSwitchLetsNothingPastTheTunnelWhileTheEngineFails) {
    DaemonClient::setKillSwitch(true);
    ASSERT_EQ(DaemonClient::connect(vlessLink, "Мир").state, TunnelState::connected);

    // Datagrams and connection attempts to the far side, IPv4 and IPv6, all along; what the
    // counters held before it started is not the tunnel's.
    ChildProcess::Options quiet;
    quiet.output = ChildProcess::Redirect::toFile(root() + "/traffic.out");
    quiet.error = quiet.output;
    auto traffic = ChildProcess::spawn(ORVEX_NETNS_WORLD, {"traffic", name_, "240"}, quiet);
    leaks();

    // The first moment anything passed beside the tunnel, and what the service said then.
    std::string firstLeak;
    auto watch = [&](const char* phase) {
        if (std::string seen = leaks(); firstLeak.empty() && seen != "0 0")
            firstLeak =
                std::string(phase) + ": " + seen + " (IPv4 IPv6), status " + DaemonClient::status().message;
    };
    auto steady = [&](const char* phase) {
        for (int request = 0; request < 10; ++request, watch(phase))
            EXPECT_EQ(get(farEcho), vlessIP) << phase;
    };
    steady("connected");

    // The engine dies and the service brings up another.
    pid_t first = enginePid();
    ASSERT_GT(first, 0);
    ::kill(first, SIGKILL);
    EXPECT_TRUE(test::waitUntil(
        [&] {
            watch("reconnecting");
            pid_t now = enginePid();
            return now > 0 && now != first && DaemonClient::status().state == TunnelState::connected;
        },
        60s));
    steady("reconnected");

    // Now no engine can start: once the reconnects give up, the kill switch holds everything.
    fs::remove(root() + "/usr/bin/v2ray");
    test::writeFile(root() + "/usr/bin/v2ray", "#!/bin/sh\nexit 1\n", 0755);
    ::kill(enginePid(), SIGKILL);
    EXPECT_TRUE(test::waitUntil(
        [&] {
            watch("reconnecting to a broken engine");
            return log().find("переподключение: попытки исчерпаны") != std::string::npos;
        },
        120s));
    auto held = DaemonClient::status();
    EXPECT_TRUE(held.killSwitchHold);
    EXPECT_EQ(held.message, "Трафик заблокирован: туннель не поднят");
    EXPECT_FALSE(get(farEcho));
    watch("held");
    EXPECT_EQ(firstLeak, "") << "packets passed beside the tunnel";
    traffic.stop();

    EXPECT_EQ(DaemonClient::disconnect().state, TunnelState::disconnected);
    EXPECT_EQ(get(farEcho), clientIP);
    EXPECT_EQ(networkState(), before_);
}

TEST_F(NetnsCapture, ServiceKilledWhileConnectedLeavesNothingOnceRestarted) {
    ASSERT_EQ(DaemonClient::connect(vlessLink, "Мир").state, TunnelState::connected);
    pid_t engine = enginePid();
    service_->kill();
    service_->wait();
    // What the service had set up outlives it until the next start undoes it.
    EXPECT_NE(networkState(), before_);
    startService();
    EXPECT_EQ(networkState(), before_);
    // Gone, and not a zombie waiting for a parent that is gone.
    EXPECT_TRUE(test::waitUntil([&] {
        std::string stat = test::readFile("/proc/" + std::to_string(engine) + "/stat");
        return stat.rfind(") Z") != std::string::npos || stat.empty();
    }));
    EXPECT_EQ(get(farEcho), clientIP);
}

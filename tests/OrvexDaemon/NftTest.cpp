// The Linux network changer and the tunnel with the Linux personality (no bridge: the capture in
// the nftables table, the engine's transparent inbounds), in-process against the fake engine and
// the fake nft and ip, whose state under ORVEX_ROOT stands for the kernel's.
#include "NftRouting.h"

#include "FakeEngine.h"
#include "FakeNetfilter.h"
#include "Log.h"
#include "Paths.h"
#include "RoutingError.h"
#include "TestSupport.h"
#include "Tunnel.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <set>

namespace orvex {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

const std::string serverLink = "vless://11111111-2222-3333-4444-555555555555@203.0.113.7:443"
                               "?encryption=none&security=none&type=tcp#Test";
const std::string defaultRoute = "default via 192.168.1.1 dev eth0";

class Nft : public testing::Test {
protected:
    Nft() {
        net.setRoutes({defaultRoute});
        log.setEnabled(true);
        timing.portWait = 5s;
        timing.portPoll = 20ms;
        timing.stopGrace = 500ms;
        timing.firstCheck = timing.checkInterval = 100ms;
        timing.reconnectPauses = {200ms, 200ms, 200ms};
    }
    ~Nft() override {
        if (!tunnel) return;
        std::weak_ptr<Tunnel> weak = tunnel;
        tunnel->disconnect();
        tunnel.reset();
        test::waitUntil([&] { return weak.expired(); });
    }

    static NetworkChanger::Capture capture(bool blockAds = true) {
        return {"", "203.0.113.7", "", blockAds, "", 12345, 12346};
    }
    std::shared_ptr<Tunnel> make() {
        Tunnel::Environment environment;
        environment.engineDir = [this] { return engine.engineDir(); };
        environment.timing = timing;
        return std::make_shared<Tunnel>(log, environment);
    }
    bool pristine() {
        return net.table().empty() && net.ip()["rule"].empty() &&
               net.ip()["route"] == nlohmann::json{defaultRoute} && !fs::exists(NftRouting::journalPath());
    }
    bool has(const std::string& text) { return net.table().find(text) != std::string::npos; }

    test::TempDir root;
    test::ScopedEnv rootEnv{"ORVEX_ROOT", root.path()};
    test::ScopedEnv homeEnv{"HOME", root / "home"};
    test::ScopedEnv platform{"ORVEX_PLATFORM", "linux"};
    test::FakeNetfilter net{root.path()};
    test::FakeEngine engine{root.path(), root / "engine"};
    Log log{root / "logs", "service"};
    Tunnel::Timing timing;
    std::shared_ptr<Tunnel> tunnel;
};
using NftRoutingTest = Nft;
using NftTunnel = Nft;

TEST_F(NftRoutingTest, ConnectCapturesAllButTheExemptAndSteersDNSToThePair) {
    for (bool blockAds : {true, false}) {
        NftRouting routing(log);
        routing.configure(capture(blockAds));
        for (const auto& line : Lines{
                 "type nat hook output", "meta l4proto tcp redirect to :12345",
                 std::string("meta l4proto { tcp, udp } th dport 53 dnat ip to numgen inc mod 2 ") +
                     (blockAds ? "map { 0 : 94.140.14.14, 1 : 94.140.15.15 }"
                               : "map { 0 : 1.1.1.1, 1 : 1.0.0.1 }"),
                 "meta l4proto udp meta mark set 0x4f52", "meta l4proto tcp th dport 53 meta mark set 0x4f52",
                 "meta l4proto { tcp, udp } meta mark 0x4f52 tproxy ip to 127.0.0.1:12346 accept",
                 "meta nfproto ipv6 oif \"lo\" accept",
                 "meta nfproto ipv6 meta l4proto tcp reject with tcp reset",
                 "meta nfproto ipv6 reject with icmpx type admin-prohibited"})
            EXPECT_TRUE(has(line)) << line << "\n" << net.table();
        // The exemptions come first in both chains that capture (steer_out, then mark_udp), and
        // DNS is steered before the redirect could take TCP queries elsewhere.
        auto table = net.table();
        for (const char* exempt :
             {"meta mark 0xff return", "fib daddr type local return", "ip daddr 203.0.113.7 return"}) {
            EXPECT_LT(table.find(exempt), table.find("th dport 53 dnat")) << exempt;
            EXPECT_LT(table.find(exempt, table.find("chain mark_udp")), table.find("meta mark set"))
                << exempt;
        }
        EXPECT_LT(table.find("th dport 53 dnat"), table.find("redirect to"));
        EXPECT_EQ(net.ip()["rule"], nlohmann::json::array({"fwmark 0x4f52 lookup 20306"}));
        EXPECT_EQ(net.ip()["route"],
                  nlohmann::json::array({defaultRoute, "local 0.0.0.0/0 dev lo table 20306"}));
        routing.teardown();
        EXPECT_TRUE(pristine()) << net.table() << net.ip();
    }
}

TEST_F(NftRoutingTest, TheHoldLetsOnlyLoopbackThrough) {
    NftRouting hold(log);
    hold.holdTraffic("");
    for (const char* line : {"type filter hook input priority filter; policy drop;", "iif \"lo\" accept",
                             "type filter hook output priority filter; policy drop;", "oif \"lo\" accept"})
        EXPECT_TRUE(has(line)) << line << "\n" << net.table();
    EXPECT_FALSE(has("redirect"));
    EXPECT_TRUE(net.ip()["rule"].empty());
    hold.teardown();
    EXPECT_TRUE(pristine());
}

// What a killed service left: a capture, a hold, a capture killed before its table (the journal
// is written before the first change) and a table whose journal is lost.
TEST_F(NftRoutingTest, TheNextStartRemovesWhatAKilledServiceLeft) {
    struct Killed {};
    struct Row {
        const char* name;
        bool hold, beforeTheTable, journalLost;
    };
    for (const auto& row :
         {Row{"capture", false, false, false}, Row{"hold", true, false, false},
          Row{"before the table", false, true, false}, Row{"journal lost", true, false, true}}) {
        SCOPED_TRACE(row.name);
        {
            // Going out of scope without teardown is what a killed service leaves.
            NftRouting routing(log, [&](const std::string& program, const Lines& arguments, double timeout) {
                auto result = Shell::run(program, arguments, timeout);
                if (row.beforeTheTable && arguments[0] == "route") throw Killed{};
                return result;
            });
            try {
                row.hold ? routing.holdTraffic("") : routing.configure(capture());
            } catch (const Killed&) {
            }
        }
        if (row.journalLost) fs::remove(NftRouting::journalPath());
        EXPECT_FALSE(pristine());
        NftRouting::recoverFromJournal(log);
        EXPECT_TRUE(pristine()) << net.table() << net.ip();
    }
    // With nothing left it only looks.
    auto before = net.calls().size();
    NftRouting::recoverFromJournal(log);
    auto after = net.calls();
    EXPECT_EQ(Lines(after.begin() + static_cast<long>(before), after.end()),
              Lines{"nft list table inet orvex"});
}

TEST_F(NftRoutingTest, TheDefaultRouteIsReadFromIproute) {
    for (const auto& [routes, gateway, iface] : std::vector<std::tuple<Lines, std::string, std::string>>{
             {{"default via 192.168.1.1 dev eth0 proto dhcp metric 100", "default via 10.0.0.1 dev wlan0"},
              "192.168.1.1",
              "eth0"},
             {{"default dev ppp0 scope link"}, "", "ppp0"},
             {{"local 0.0.0.0/0 dev lo table 20306"}, "", ""}}) {
        net.setRoutes(routes);
        auto route = NftRouting::defaultRoute();
        EXPECT_EQ(route ? route->gateway + " " + route->iface : "none",
                  iface.empty() ? "none" : gateway + " " + iface);
    }
}

// Fails each call of a connect in turn, as counted on a connect that succeeds.
TEST_F(NftRoutingTest, AFailureAtAnyStepLeavesNothingBehind) {
    NftRouting(log).configure(capture());
    auto steps = net.calls();
    ASSERT_EQ(steps.size(), 3u);
    for (size_t k = 0; k < steps.size(); ++k) {
        std::string tool = steps[k].substr(0, steps[k].find(' '));
        net.reset();
        net.setRoutes({defaultRoute});
        net.failAt(tool, static_cast<size_t>(
                             std::count_if(steps.begin(), steps.begin() + static_cast<long>(k) + 1,
                                           [&](const auto& step) { return step.starts_with(tool); })));
        fs::remove(NftRouting::journalPath());
        NftRouting routing(log);
        EXPECT_THROW(routing.configure(capture()), RoutingError) << steps[k];
        EXPECT_TRUE(pristine()) << steps[k] << net.table() << net.ip();
    }
}

TEST_F(NftTunnel, ConnectCapturesIntoTheEngineWithoutABridgeAndDisconnectUndoesAll) {
    tunnel = make();
    tunnel->connect(serverLink, "Амстердам", false);
    EXPECT_EQ(tunnel->currentStatus().state, TunnelState::connected);
    EXPECT_TRUE(engine.runs("tun2socks").empty());

    auto config = nlohmann::json::parse(test::readFile(Paths::generatedConfig()));
    const auto& inbounds = config["inbounds"];
    auto port = [&](int index) { return inbounds[index]["port"].get<std::int64_t>(); };
    EXPECT_EQ((std::set<std::int64_t>{port(0), port(1), port(2)}.size()), 3u);
    EXPECT_EQ(inbounds[2]["settings"]["network"], "tcp,udp");
    for (const auto& [index, mode] : {std::pair{1, "redirect"}, std::pair{2, "tproxy"}}) {
        EXPECT_EQ(inbounds[index]["protocol"], "dokodemo-door");
        EXPECT_EQ(inbounds[index]["settings"]["followRedirect"], true);
        EXPECT_EQ(inbounds[index]["streamSettings"]["sockopt"]["tproxy"], mode);
    }
    for (const auto& outbound : config["outbounds"])
        if (outbound["protocol"] != "blackhole") {
            EXPECT_EQ(outbound["streamSettings"]["sockopt"]["mark"], 255);
        }
    EXPECT_TRUE(has("redirect to :" + std::to_string(port(1)))) << net.table();
    EXPECT_TRUE(has("tproxy ip to 127.0.0.1:" + std::to_string(port(2)))) << net.table();
    EXPECT_EQ(net.ip()["rule"].size(), 1u);

    // The health monitor is content with the engine alone.
    EXPECT_FALSE(
        test::waitUntil([&] { return tunnel->currentStatus().state != TunnelState::connected; }, 500ms));
    tunnel->disconnect();
    EXPECT_TRUE(pristine()) << net.table() << net.ip();
}

TEST_F(NftTunnel, TheKillSwitchHoldsWithTheDropRulesetAlone) {
    tunnel = make();
    tunnel->setKillSwitch(true);
    engine.setMode("xray", "exit");
    EXPECT_ANY_THROW(tunnel->connect(serverLink, "Амстердам", false));
    EXPECT_TRUE(tunnel->currentStatus().killSwitchHold);
    EXPECT_TRUE(has("policy drop")) << net.table();
    EXPECT_TRUE(net.ip()["rule"].empty());
    EXPECT_TRUE(engine.runs("tun2socks").empty());
    tunnel->disconnect();
    EXPECT_TRUE(pristine());
}

// With the kill switch on, the table is never lifted while the engine is down: the capture
// turns into the hold between attempts, the hold into the next capture, one rule throughout.
TEST_F(NftTunnel, WithTheKillSwitchOnNothingFlowsDirectlyBetweenAttempts) {
    tunnel = make();
    tunnel->setKillSwitch(true);
    tunnel->connect(serverLink, "Амстердам", false);
    engine.setMode("xray", "exit");
    ::kill(engine.runs("xray").back()["pid"].get<pid_t>(), SIGKILL);
    bool held = false;
    ASSERT_TRUE(test::waitUntil(
        [&] {
            EXPECT_FALSE(net.table().empty());
            held = held || has("policy drop");
            // The first start and three attempts, then the hold for good.
            return engine.runs("xray").size() >= 4 && tunnel->currentStatus().killSwitchHold;
        },
        20s));
    EXPECT_TRUE(held);

    engine.setMode("xray", "");
    tunnel->connect(serverLink, "Амстердам", false);
    EXPECT_TRUE(has("tproxy")) << net.table();
    EXPECT_EQ(net.ip()["rule"].size(), 1u) << net.ip();
    tunnel->disconnect();
    EXPECT_TRUE(pristine()) << net.table() << net.ip();
}

TEST_F(NftTunnel, TheServiceStartRemovesTheCaptureOfAKilledOne) {
    NftRouting(log).configure(capture());
    ASSERT_FALSE(pristine());
    Tunnel::recoverAfterCrash(log);
    EXPECT_TRUE(pristine());
}

} // namespace
} // namespace orvex

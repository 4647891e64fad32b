// The tunnel with the Linux personality, in-process against the fake engine and the fake nft
// and ip: no bridge, the capture in the nftables table, the engine's transparent inbounds.
#include "Tunnel.h"

#include "FakeEngine.h"
#include "FakeNetfilter.h"
#include "Log.h"
#include "NftRouting.h"
#include "Paths.h"
#include "TestSupport.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>

namespace orvex {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::FakeEngine;

const std::string serverLink = "vless://11111111-2222-3333-4444-555555555555@203.0.113.7:443"
                               "?encryption=none&security=none&type=tcp#Test";
const std::string defaultRoute = "default via 192.168.1.1 dev eth0";

class NftTunnel : public testing::Test {
protected:
    NftTunnel() {
        net.setRoutes({defaultRoute});
        Paths::ensureDir(Paths::daemonLogDir());
        log.setEnabled(true);
        timing.portWait = 5s;
        timing.portPoll = 20ms;
        timing.stopGrace = 500ms;
        timing.firstCheck = 100ms;
        timing.checkInterval = 100ms;
        timing.reconnectPauses = {200ms, 200ms, 200ms};
    }
    ~NftTunnel() override {
        if (!tunnel) return;
        std::weak_ptr<Tunnel> weak = tunnel;
        tunnel->disconnect();
        tunnel.reset();
        test::waitUntil([&] { return weak.expired(); });
    }

    std::shared_ptr<Tunnel> make() {
        Tunnel::Environment environment;
        environment.engineDir = [this] { return engine.folder(); };
        environment.timing = timing;
        return std::make_shared<Tunnel>(log, environment);
    }
    bool pristine() {
        return net.table().empty() && net.ip()["rule"].empty() &&
               net.ip()["route"] == nlohmann::json{defaultRoute} && !fs::exists(NftRouting::journalPath());
    }

    test::TempDir root;
    test::ScopedEnv rootEnv{"ORVEX_ROOT", root.path()};
    test::ScopedEnv homeEnv{"HOME", root / "home"};
    test::ScopedEnv platform{"ORVEX_PLATFORM", "linux"};
    test::FakeNetfilter net{root.path()};
    FakeEngine engine{root.path(), root / "engine"};
    Log log{Paths::daemonLogDir(), "service"};
    Tunnel::Timing timing;
    std::shared_ptr<Tunnel> tunnel;
};

TEST_F(NftTunnel, ConnectCapturesIntoTheEngineWithoutABridgeAndDisconnectUndoesAll) {
    tunnel = make();
    tunnel->connect(serverLink, "Амстердам", false);
    EXPECT_EQ(tunnel->currentStatus().state, TunnelState::connected);
    EXPECT_TRUE(engine.runs("tun2socks").empty());

    auto config = nlohmann::json::parse(test::readFile(Paths::generatedConfig()));
    auto socks = config["inbounds"][0]["port"].get<std::int64_t>();
    auto port = config["inbounds"][1]["port"].get<std::int64_t>();
    auto tproxy = config["inbounds"][2]["port"].get<std::int64_t>();
    EXPECT_EQ((std::set<std::int64_t>{socks, port, tproxy}.size()), 3u);
    EXPECT_EQ(config["inbounds"][2]["settings"]["network"], "tcp,udp");
    for (const auto& [index, mode] : {std::pair{1, "redirect"}, std::pair{2, "tproxy"}}) {
        const auto& inbound = config["inbounds"][index];
        EXPECT_EQ(inbound["protocol"], "dokodemo-door");
        EXPECT_EQ(inbound["settings"]["followRedirect"], true);
        EXPECT_EQ(inbound["streamSettings"]["sockopt"]["tproxy"], mode);
    }
    for (const auto& outbound : config["outbounds"]) {
        if (outbound["protocol"] == "blackhole") continue;
        EXPECT_EQ(outbound["streamSettings"]["sockopt"]["mark"], 255);
    }

    std::string target = std::to_string(port);
    EXPECT_NE(net.table().find("redirect to :" + target), std::string::npos) << net.table();
    EXPECT_NE(net.table().find("tproxy ip to 127.0.0.1:" + std::to_string(tproxy)), std::string::npos)
        << net.table();
    EXPECT_NE(net.ip()["rule"].dump().find("fwmark"), std::string::npos);

    // The health monitor is content with the engine alone.
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(tunnel->currentStatus().state, TunnelState::connected);

    tunnel->disconnect();
    EXPECT_TRUE(pristine()) << net.table() << net.ip();
}

TEST_F(NftTunnel, TheKillSwitchHoldsWithTheDropRulesetAlone) {
    tunnel = make();
    tunnel->setKillSwitch(true);
    engine.setXrayMode(FakeEngine::XrayMode::exitAtOnce);
    EXPECT_ANY_THROW(tunnel->connect(serverLink, "Амстердам", false));
    EXPECT_TRUE(tunnel->currentStatus().killSwitchHold);
    EXPECT_NE(net.table().find("policy drop"), std::string::npos) << net.table();
    EXPECT_EQ(net.ip()["rule"].dump().find("fwmark"), std::string::npos);
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
    engine.setXrayMode(FakeEngine::XrayMode::exitAtOnce);
    ::kill(engine.runs("xray").back()["pid"].get<pid_t>(), SIGKILL);
    bool held = false;
    size_t looks = 0;
    ASSERT_TRUE(test::waitUntil(
        [&] {
            auto table = net.table();
            ++looks;
            EXPECT_FALSE(table.empty()) << "look " << looks;
            held = held || table.find("policy drop") != std::string::npos;
            // The first start and three attempts, then the hold for good.
            return engine.runs("xray").size() >= 4 && tunnel->currentStatus().killSwitchHold;
        },
        20s));
    EXPECT_TRUE(held);

    engine.setXrayMode(FakeEngine::XrayMode::listen);
    tunnel->connect(serverLink, "Амстердам", false);
    EXPECT_NE(net.table().find("tproxy"), std::string::npos) << net.table();
    EXPECT_EQ(net.ip()["rule"].size(), 1u) << net.ip();
    tunnel->disconnect();
    EXPECT_TRUE(pristine()) << net.table() << net.ip();
}

TEST_F(NftTunnel, TheServiceStartRemovesTheCaptureOfAKilledOne) {
    {
        NftRouting left(log);
        left.configure({"", "203.0.113.7", "", true, "", 4242});
    }
    EXPECT_FALSE(pristine());
    Tunnel::recoverAfterCrash(log);
    EXPECT_TRUE(pristine());
}

} // namespace
} // namespace orvex

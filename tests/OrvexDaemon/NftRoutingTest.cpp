// The Linux network changer against the fake nft and ip of tests/fixtures, whose state under
// ORVEX_ROOT stands for the kernel's ruleset, rules and routes.
#include "NftRouting.h"

#include "FakeNetfilter.h"
#include "Log.h"
#include "RoutingError.h"
#include "TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <optional>

namespace orvex {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

constexpr int port = 12345;
constexpr int tproxyPort = 12346;

class NftRoutingTest : public ::testing::Test {
protected:
    NftRouting changer() { return NftRouting(log); }
    NetworkChanger::Capture capture(bool blockAds = true) {
        return {"", "203.0.113.7", "", blockAds, "", port, tproxyPort};
    }

    bool nothingLeft() {
        return net.table().empty() && net.ip()["rule"].empty() && net.ip()["route"].empty() &&
               !fs::exists(NftRouting::journalPath());
    }
    void expectLines(const std::string& text, const Lines& wanted) {
        for (const auto& line : wanted) EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
    }

    test::TempDir dir;
    test::ScopedEnv root{"ORVEX_ROOT", dir.path()};
    test::ScopedEnv platform{"ORVEX_PLATFORM", "linux"};
    test::FakeNetfilter net{dir.path()};
    Log log{dir / "logs", "service"};
};

TEST_F(NftRoutingTest, ConnectCapturesAllButTheExemptAndSteersDNSToThePair) {
    struct Row {
        bool blockAds;
        std::string dns;
    };
    for (const auto& row : {Row{true, "map { 0 : 94.140.14.14, 1 : 94.140.15.15 }"},
                            Row{false, "map { 0 : 1.1.1.1, 1 : 1.0.0.1 }"}}) {
        auto routing = changer();
        routing.configure(capture(row.blockAds));
        expectLines(net.table(),
                    {"type nat hook output", "meta mark 0xff return", "fib daddr type local return",
                     "ip daddr 203.0.113.7 return",
                     "meta l4proto { tcp, udp } th dport 53 dnat ip to numgen inc mod 2 " + row.dns,
                     "meta l4proto tcp redirect to :12345", "meta l4proto udp meta mark set 0x4f52",
                     "meta l4proto tcp th dport 53 meta mark set 0x4f52",
                     "meta l4proto { tcp, udp } meta mark 0x4f52 tproxy ip to 127.0.0.1:12346 accept",
                     "meta nfproto ipv6 oif \"lo\" accept",
                     "meta nfproto ipv6 meta l4proto tcp reject with tcp reset",
                     "meta nfproto ipv6 reject with icmpx type admin-prohibited"});
        // DNS is steered before the redirect could take TCP queries elsewhere.
        EXPECT_LT(net.table().find("th dport 53 dnat"), net.table().find("redirect to"));
        // The exemptions come before the capture in both chains that capture.
        EXPECT_LT(net.table().find("fib daddr type local return"), net.table().find("meta mark set"));
        EXPECT_LT(net.table().rfind("ip daddr 203.0.113.7 return"), net.table().find("meta mark set"));
        EXPECT_LT(net.table().find("ip daddr 203.0.113.7 return"), net.table().find("redirect to"));
        expectLines(net.ip().dump(), {"fwmark 0x4f52 lookup 20306", "local 0.0.0.0/0 dev lo table 20306"});
        EXPECT_TRUE(fs::exists(NftRouting::journalPath()));

        routing.teardown();
        EXPECT_TRUE(nothingLeft()) << net.table() << net.ip();
    }
    auto all = net.calls();
    EXPECT_EQ(std::count(all.begin(), all.end(), "nft delete table inet orvex"), 2);
    EXPECT_EQ(std::count(all.begin(), all.end(), "ip rule del fwmark 0x4f52 lookup 20306"), 2);
}

TEST_F(NftRoutingTest, TheHoldLetsOnlyLoopbackThroughAndReplacesTheCapture) {
    auto routing = changer();
    routing.configure(capture());
    routing.teardown();
    auto hold = changer();
    hold.holdTraffic("");
    expectLines(net.table(), {"type filter hook input priority filter; policy drop;", "iif \"lo\" accept",
                              "type filter hook output priority filter; policy drop;", "oif \"lo\" accept"});
    EXPECT_EQ(net.table().find("redirect"), std::string::npos);
    EXPECT_EQ(net.ip().dump().find("fwmark"), std::string::npos);
    hold.teardown();
    EXPECT_TRUE(nothingLeft());
}

TEST_F(NftRoutingTest, TheNextStartRemovesWhatAKilledServiceLeft) {
    struct Row {
        std::string name;
        bool hold;
        bool journal; // false: the journal is lost, the table stays
    };
    for (const auto& row :
         {Row{"capture", false, true}, Row{"hold", true, true}, Row{"table only", true, false}}) {
        {
            // Going out of scope without teardown is what a killed service leaves.
            auto routing = changer();
            row.hold ? routing.holdTraffic("") : routing.configure(capture());
        }
        if (!row.journal) fs::remove(NftRouting::journalPath());
        EXPECT_FALSE(net.table().empty()) << row.name;
        NftRouting::recoverFromJournal(log);
        EXPECT_TRUE(nothingLeft()) << row.name << net.table() << net.ip();
    }
    // With nothing left it only looks.
    auto before = net.calls().size();
    NftRouting::recoverFromJournal(log);
    auto after = net.calls();
    EXPECT_EQ(Lines(after.begin() + static_cast<long>(before), after.end()),
              Lines{"nft list table inet orvex"});
}

TEST_F(NftRoutingTest, TheDefaultRouteIsReadFromIproute) {
    struct Row {
        Lines routes;
        std::optional<NetworkChanger::DefaultRoute> expected;
    };
    for (const auto& row : {
             Row{{"default via 192.168.1.1 dev eth0 proto dhcp metric 100", "default via 10.0.0.1 dev wlan0"},
                 NetworkChanger::DefaultRoute{"192.168.1.1", "", "eth0"}},
             Row{{"default dev ppp0 scope link"}, NetworkChanger::DefaultRoute{"", "", "ppp0"}},
             Row{{"local 0.0.0.0/0 dev lo table 20306"}, std::nullopt},
         }) {
        net.setRoutes(row.routes);
        auto route = NftRouting::defaultRoute();
        ASSERT_EQ(route.has_value(), row.expected.has_value()) << row.routes[0];
        if (!route) continue;
        EXPECT_EQ(route->gateway, row.expected->gateway);
        EXPECT_EQ(route->iface, row.expected->iface);
    }
}

// Fails each call of a connect in turn, as counted on a connect that succeeds.
TEST_F(NftRoutingTest, AFailureAtAnyStepLeavesNothingBehind) {
    changer().configure(capture());
    auto steps = net.calls();
    ASSERT_EQ(steps.size(), 3u);
    for (size_t k = 1; k <= steps.size(); ++k) {
        net.reset();
        fs::remove(NftRouting::journalPath());
        std::string tool = steps[k - 1].substr(0, steps[k - 1].find(' '));
        auto number = std::count_if(steps.begin(), steps.begin() + static_cast<long>(k),
                                    [&](const std::string& step) { return step.starts_with(tool + " "); });
        net.failAt(tool, number);
        auto routing = changer();
        EXPECT_THROW(routing.configure(capture()), RoutingError) << steps[k - 1];
        EXPECT_TRUE(nothingLeft()) << steps[k - 1] << net.table() << net.ip();
    }
}

} // namespace
} // namespace orvex

#include "Routing.h"

#include "FakeSystem.h"
#include "Log.h"
#include "RoutingJournal.h"
#include "ScriptedRunner.h"
#include "TestSupport.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace orvex {
namespace {

using nlohmann::json;
using test::FakeSystem;
using ::testing::ElementsAre;

// One simulated Mac with the fake tools, a service log and the routing under test.
struct Machine {
    Machine() { log.setEnabled(true); }

    Routing routing() {
        return Routing(log, Shell::run, [this] { return fake.upInterfaces(); });
    }
    std::vector<std::string> messages() { return test::messagesOf(log); }

    test::TempDir dir;
    test::ScopedEnv root{"ORVEX_ROOT", dir.path()};
    FakeSystem fake{dir.path()};
    Log log{dir / "logs", "service"};
};

// For every k, the k-th command of `setUp` fails on a fresh machine; whether the set-up then
// fails or goes on, the tunnel's owner tearing down what it was handed must leave the
// routes and DNS settings exactly as they were.
void expectNothingLeftBehind(const std::function<void(Routing&)>& setUp) {
    size_t commands = 0;
    {
        Machine clean;
        std::string before = clean.fake.snapshot();
        auto routing = clean.routing();
        setUp(routing);
        commands = clean.fake.callCount();
        EXPECT_NE(clean.fake.snapshot(), before);
        routing.teardown();
        EXPECT_EQ(clean.fake.snapshot(), before);
    }
    ASSERT_GT(commands, 8u);
    for (size_t k = 1; k <= commands; ++k) {
        Machine machine;
        std::string before = machine.fake.snapshot();
        machine.fake.failAt(k);
        auto routing = machine.routing();
        bool inPlace = true;
        try {
            setUp(routing);
        } catch (const RoutingError&) {
            inPlace = false;
        }
        if (inPlace) routing.teardown();
        auto calls = machine.fake.calls();
        EXPECT_EQ(machine.fake.snapshot(), before) << "failing call " << k << ": " << calls.at(k - 1);
        EXPECT_FALSE(std::filesystem::exists(RoutingJournal::path())) << "failing call " << k;
    }
}

TEST(RoutingSystem, AFailureAtAnyStepOfConfigureLeavesNothingBehind) {
    expectNothingLeftBehind(
        [](Routing& routing) { routing.configure("utun4", "203.0.113.7", "192.168.1.1", true, "en0"); });
}

TEST(RoutingSystem, AFailureAtAnyStepOfHoldTrafficLeavesNothingBehind) {
    expectNothingLeftBehind([](Routing& routing) { routing.holdTraffic("utun4"); });
}

TEST(RoutingSystem, DNSComesBackPerServiceAndLaterServicesAreLeftAlone) {
    Machine machine;
    auto routing = machine.routing();
    routing.configure("utun4", "203.0.113.7", "192.168.1.1", true, "");
    EXPECT_EQ(machine.fake.dns(), (json{{"Wi-Fi", {"94.140.14.14", "94.140.15.15"}},
                                        {"USB 10/100/1000 LAN", {"94.140.14.14", "94.140.15.15"}}}));

    auto services = machine.fake.services();
    services.push_back({{"name", "Ethernet 2"}, {"port", "Ethernet"}, {"device", "en0"}, {"enabled", true}});
    machine.fake.setServices(services);
    auto dns = machine.fake.dns();
    dns["Ethernet 2"] = {"9.9.9.9"};
    machine.fake.setDNS(dns);

    routing.teardown();
    EXPECT_EQ(machine.fake.dns(),
              (json{{"USB 10/100/1000 LAN", {"10.0.0.54", "10.0.0.53"}}, {"Ethernet 2", {"9.9.9.9"}}}));
    auto calls = machine.fake.calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "networksetup -setdnsservers Wi-Fi Empty"), calls.end());
}

TEST(RoutingSystem, AStartAfterACrashPutsTheNetworkBack) {
    Machine machine;
    std::string before = machine.fake.snapshot();
    {
        auto routing = machine.routing();
        routing.configure("utun4", "203.0.113.7", "192.168.1.1", false, "en0");
    }
    // The service died without tearing down; its bridge died with it and the system dropped
    // the interface and every route through it.
    auto routes = machine.fake.routes();
    routes.erase(
        std::remove_if(routes.begin(), routes.end(), [](auto& r) { return r["interface"] == "utun4"; }),
        routes.end());
    machine.fake.setRoutes(routes);
    EXPECT_NE(machine.fake.snapshot(), before);

    Log restarted(machine.dir / "logs", "service");
    auto start = machine.messages().size();
    Routing::recoverFromJournal(restarted);
    Routing::clearStaleIPv6Block(restarted);
    EXPECT_EQ(machine.fake.snapshot(), before);
    auto messages = test::messagesOf(restarted);
    EXPECT_THAT(
        std::vector<std::string>(messages.begin() + static_cast<long>(start), messages.end()),
        ElementsAre(
            "routing: найден журнал изменений прошлого запуска, возвращаю сеть в прежнее состояние",
            "routing: route delete (обход для сервера): ok (delete host 203.0.113.7: gateway "
            "192.168.1.1)",
            "routing: route delete -ifscope en0 default: ok (delete net default: gateway 192.168.1.1)",
            "routing: route delete ::/1 (снятие заглушки IPv6): ok (delete net ::/1: gateway ::1)",
            "routing: route delete 8000::/1 (снятие заглушки IPv6): ok (delete net 8000::/1: gateway "
            "::1)",
            "routing: networksetup вернуть DNS (USB 10/100/1000 LAN): ok",
            "routing: networksetup вернуть DNS (Wi-Fi): ok"));
    EXPECT_FALSE(std::filesystem::exists(RoutingJournal::path()));
}

TEST(RoutingSystem, StaleIPv6BlockIsClearedWithOneLinePerRoute) {
    Machine machine;
    auto routes = machine.fake.routes();
    routes.push_back(FakeSystem::route("inet6", "::/1", "::1", "lo0", true));
    routes.push_back(FakeSystem::route("inet6", "8000::/1", "::1", "lo0", true));
    machine.fake.setRoutes(routes);

    Routing::clearStaleIPv6Block(machine.log);
    EXPECT_THAT(machine.messages(),
                ElementsAre("routing: снята заглушка IPv6 от прошлого запуска (::/1)",
                            "routing: снята заглушка IPv6 от прошлого запуска (8000::/1)"));
    EXPECT_EQ(machine.fake.routes().size(), 2u);

    // On a clean system the lookups find the real IPv6 default and nothing is touched.
    Routing::clearStaleIPv6Block(machine.log);
    EXPECT_EQ(machine.messages().size(), 2u);
    EXPECT_EQ(machine.fake.callCount(), 6u);
}

TEST(RoutingSystem, DefaultRouteReadsGatewayInterfaceAndItsAddress) {
    Machine machine;
    auto up = Routing::upInterfaces();
    auto loopback =
        std::find_if(up.begin(), up.end(), [](auto& name) { return Routing::ipv4(name) == "127.0.0.1"; });
    ASSERT_NE(loopback, up.end());
    EXPECT_EQ(Routing::ipv4("no-such-interface0"), "");
    machine.fake.setRoutes(json::array({FakeSystem::route("inet", "default", "192.168.1.1", *loopback)}));
    auto reading = Routing::defaultRoute();
    ASSERT_TRUE(reading);
    EXPECT_EQ(reading->gateway, "192.168.1.1");
    EXPECT_EQ(reading->iface, *loopback);
    EXPECT_EQ(reading->localIP, "127.0.0.1");

    // A default route straight to an interface has no gateway line: no reading.
    machine.fake.setRoutes(json::array({FakeSystem::route("inet", "default", "", "utun4")}));
    EXPECT_FALSE(Routing::defaultRoute());
    machine.fake.setRoutes(json::array());
    EXPECT_FALSE(Routing::defaultRoute());
}

} // namespace
} // namespace orvex

// Routing against the fake macOS tools, which keep a routing table and DNS settings as the real
// ones do: what a set-up changes and in what order, and that nothing is left behind.
#include "Routing.h"

#include "FakeSystem.h"
#include "Log.h"
#include "RoutingJournal.h"
#include "TestSupport.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>
#include <sstream>

namespace orvex {
namespace {

using nlohmann::json;
using test::FakeSystem;
using ::testing::Contains;
using ::testing::ElementsAre;
using Lines = std::vector<std::string>;

// One simulated Mac with the fake tools, a service log and the routing under test.
struct Machine {
    Machine() { log.setEnabled(true); }

    // `runner` stands between the routing and the tools, to watch or answer single calls.
    Routing routing(Shell::Runner runner = Shell::run) {
        return Routing(log, runner, [this] { return fake.upInterfaces(); });
    }
    Lines messages() {
        log.flush();
        std::vector<std::string> lines;
        std::istringstream text(test::readFile(log.filePath()));
        for (std::string line; std::getline(text, line);) lines.push_back(line.substr(line.find("] ") + 2));
        return lines;
    }
    // The routing table, one line per route: destination, gateway or interface, and marks.
    Lines routes() const {
        Lines lines;
        for (const auto& r : fake.routes())
            lines.push_back(
                r["dest"].get<std::string>() + " " +
                (r["gateway"] == "" ? "dev " : "via " + r["gateway"].get<std::string>() + " dev ") +
                r["interface"].get<std::string>() + (r["scope"] == "" ? "" : " scoped") +
                (r["reject"] ? " reject" : ""));
        return lines;
    }

    test::TempDir dir;
    test::ScopedEnv root{"ORVEX_ROOT", dir.path()};
    FakeSystem fake{dir.path()};
    Log log{dir / "logs", "service"};
};

// Each change is journaled before it is made, so a service killed in between knows what to
// undo; the server's bypass route comes first, or the engine's own traffic would loop.
TEST(Routing, ConfigureJournalsEachChangeBeforeMakingItAndTeardownUndoesAll) {
    Machine machine;
    std::string before = machine.fake.snapshot();
    Lines changes;
    std::map<std::string, RoutingJournal::Record> journaled; // by the change it was written for
    auto routing = machine.routing([&](const std::string& program, const Lines& arguments, double timeout) {
        if ((arguments.size() > 1 && arguments[1] == "add") || arguments[0] == "-setdnsservers") {
            changes.push_back(program.substr(program.rfind('/') + 1));
            for (const auto& argument : arguments) changes.back() += " " + argument;
            journaled[changes.back()] = RoutingJournal::load().value_or(RoutingJournal::Record{});
        }
        return Shell::run(program, arguments, timeout);
    });
    routing.configure("utun4", "203.0.113.7", "192.168.1.1", false, "en0");

    EXPECT_THAT(machine.routes(),
                ElementsAre("default via 192.168.1.1 dev en0", "default via fe80::1%en0 dev en0",
                            "203.0.113.7/32 via 192.168.1.1 dev en0", "0.0.0.0/1 dev utun4",
                            "128.0.0.0/1 dev utun4", "default via 192.168.1.1 dev en0 scoped",
                            "::/1 via ::1 dev lo0 reject", "8000::/1 via ::1 dev lo0 reject"));
    EXPECT_EQ(machine.fake.dns(),
              (json{{"Wi-Fi", {"1.1.1.1", "1.0.0.1"}}, {"USB 10/100/1000 LAN", {"1.1.1.1", "1.0.0.1"}}}));
    EXPECT_EQ(RoutingJournal::load(),
              (RoutingJournal::Record{"203.0.113.7",
                                      "en0",
                                      "192.168.1.1",
                                      true,
                                      {{"USB 10/100/1000 LAN", "10.0.0.54 10.0.0.53"}, {"Wi-Fi", ""}}}));
    ASSERT_EQ(changes.size(), 8u);
    EXPECT_EQ(changes[0], "route -n add -host 203.0.113.7 192.168.1.1");
    EXPECT_EQ(changes[1], "route -n add -net 0.0.0.0/1 -interface utun4");
    EXPECT_EQ(journaled[changes[0]].serverIP, "203.0.113.7");
    EXPECT_EQ(journaled["route -n add -ifscope en0 default 192.168.1.1"].scopedIface, "en0");
    EXPECT_TRUE(journaled["route -n add -inet6 -net ::/1 ::1 -reject"].ipv6Blocked);
    EXPECT_EQ(journaled["networksetup -setdnsservers Wi-Fi 1.1.1.1 1.0.0.1"].dnsBackup.count("Wi-Fi"), 1u);
    EXPECT_EQ(journaled["networksetup -setdnsservers USB 10/100/1000 LAN 1.1.1.1 1.0.0.1"]
                  .dnsBackup["USB 10/100/1000 LAN"],
              "10.0.0.54 10.0.0.53");

    routing.teardown();
    EXPECT_EQ(machine.fake.snapshot(), before);
    EXPECT_FALSE(std::filesystem::exists(RoutingJournal::path()));
}

// For every k, the k-th command of `setUp` fails on a fresh machine. A step the tunnel needs
// (`fatal`, by command line) fails the set-up with its words and the tool's; any other is only
// logged. Either way, tearing down what was handed over leaves routes and DNS as they were.
void expectNothingLeftBehind(const std::function<void(Routing&)>& setUp,
                             const std::map<std::string, std::string>& fatal) {
    size_t commands = 0;
    {
        Machine clean;
        auto routing = clean.routing();
        setUp(routing);
        commands = clean.fake.calls().size();
    }
    ASSERT_GT(commands, 8u);
    for (size_t k = 1; k <= commands; ++k) {
        Machine machine;
        std::string before = machine.fake.snapshot();
        machine.fake.failCall(k);
        auto routing = machine.routing();
        std::string error;
        try {
            setUp(routing);
            routing.teardown();
        } catch (const RoutingError& failure) {
            error = failure.what();
        }
        std::string line = machine.fake.calls().at(k - 1);
        auto step = fatal.find(line);
        EXPECT_EQ(error, step == fatal.end() ? ""
                                             : step->second + line.substr(0, line.find(' ')) +
                                                   ": injected failure (call " + std::to_string(k) + ")")
            << line;
        EXPECT_EQ(machine.fake.snapshot(), before) << line;
        EXPECT_FALSE(std::filesystem::exists(RoutingJournal::path())) << line;
    }
}

TEST(Routing, AFailureAtAnyStepLeavesNothingBehind) {
    const std::string address = "ifconfig utun4 198.18.0.1 198.18.0.2 up";
    const std::string lower = "route -n add -net 0.0.0.0/1 -interface utun4";
    const std::string upper = "route -n add -net 128.0.0.0/1 -interface utun4";
    const std::string assign = "не удалось назначить адрес интерфейсу utun4: ";
    expectNothingLeftBehind(
        [](Routing& routing) { routing.configure("utun4", "203.0.113.7", "192.168.1.1", true, "en0"); },
        {{address, assign},
         {"route -n add -host 203.0.113.7 192.168.1.1", "не удалось увести трафик к серверу мимо туннеля: "},
         {lower, "не удалось завернуть трафик в туннель (0.0.0.0/1): "},
         {upper, "не удалось завернуть трафик в туннель (128.0.0.0/1): "}});
    expectNothingLeftBehind([](Routing& routing) { routing.holdTraffic("utun4"); },
                            {{address, assign},
                             {lower, "не удалось установить блокировку (0.0.0.0/1): "},
                             {upper, "не удалось установить блокировку (128.0.0.0/1): "}});
}

// DNS is put back per service as it was; a service added meanwhile is left alone, and so is one
// whose servers could not be read (a message in place of servers could never be put back).
TEST(Routing, DNSComesBackPerServiceAndUnreadableOrLaterServicesAreLeftAlone) {
    Machine machine;
    auto routing = machine.routing([](const std::string& program, const Lines& arguments, double timeout) {
        if (arguments == Lines{"-getdnsservers", "Wi-Fi"})
            return Shell::Result{0, "** Error: The parameters were not valid."};
        return Shell::run(program, arguments, timeout);
    });
    machine.fake.failMatching("-setdnsservers Thunderbolt");
    routing.configure("utun4", "localhost", "192.168.1.1", true, "");
    EXPECT_THAT(machine.routes(), Contains("127.0.0.1/32 via 192.168.1.1 dev en0"));
    EXPECT_EQ(machine.fake.dns(), (json{{"USB 10/100/1000 LAN", {"94.140.14.14", "94.140.15.15"}}}));
    EXPECT_THAT(
        machine.messages(),
        Contains("routing: DNS не переключён (не фатально): ** Error: The parameters were not valid."));

    auto services = machine.fake.services();
    services.push_back({{"name", "Ethernet 2"}, {"port", "Ethernet"}, {"device", "en0"}, {"enabled", true}});
    machine.fake.setServices(services);
    auto dns = machine.fake.dns();
    dns["Ethernet 2"] = {"9.9.9.9"};
    machine.fake.setDNS(dns);
    routing.teardown();
    EXPECT_EQ(machine.fake.dns(),
              (json{{"USB 10/100/1000 LAN", {"10.0.0.54", "10.0.0.53"}}, {"Ethernet 2", {"9.9.9.9"}}}));
    for (const auto& call : machine.fake.calls())
        EXPECT_THAT(call, ::testing::Not(::testing::HasSubstr("-setdnsservers Wi-Fi")));
}

// A reject route the system refuses is replaced by one to the loopback interface. Blocks a
// dead service left are removed at the next start, one line each.
TEST(Routing, IPv6BlockFallsBackToLoopbackAndStaleBlocksAreCleared) {
    Machine machine;
    std::string before = machine.fake.snapshot();
    machine.fake.failMatching("-net ::/1 ::1 -reject");
    auto hold = machine.routing();
    hold.holdTraffic("utun4");
    EXPECT_THAT(machine.routes(),
                ElementsAre("default via 192.168.1.1 dev en0", "default via fe80::1%en0 dev en0",
                            "0.0.0.0/1 dev utun4", "128.0.0.0/1 dev utun4", "::/1 dev lo0",
                            "8000::/1 via ::1 dev lo0 reject"));
    EXPECT_EQ(machine.messages().back(), "routing: блокировка установлена");
    hold.teardown();
    EXPECT_EQ(machine.fake.snapshot(), before);

    auto routes = machine.fake.routes();
    routes.push_back(FakeSystem::route("inet6", "::/1", "::1", "lo0", true));
    routes.push_back(FakeSystem::route("inet6", "8000::/1", "::1", "lo0", true));
    machine.fake.setRoutes(routes);
    auto start = machine.messages().size();
    Routing::clearStaleIPv6Block(machine.log);
    Routing::clearStaleIPv6Block(machine.log); // on a clean system it finds the real default
    EXPECT_EQ(machine.fake.snapshot(), before);
    auto messages = machine.messages();
    EXPECT_THAT(Lines(messages.begin() + static_cast<long>(start), messages.end()),
                ElementsAre("routing: снята заглушка IPv6 от прошлого запуска (::/1)",
                            "routing: снята заглушка IPv6 от прошлого запуска (8000::/1)"));
}

// What a tear-down cannot undo stays in the journal for the next start, which tries once and
// forgets it (the service's own restart is followed in tests/service); a journal that cannot be
// read is removed.
TEST(Routing, WhatTeardownCouldNotUndoStaysInTheJournalForOneTry) {
    Machine machine;
    auto routing = machine.routing();
    routing.configure("utun4", "203.0.113.7", "192.168.1.1", false, "");
    machine.fake.failMatching("-setdnsservers Wi-Fi Empty");
    routing.teardown();
    EXPECT_EQ(RoutingJournal::load(), (RoutingJournal::Record{"", "", "", false, {{"Wi-Fi", ""}}}));
    Routing::recoverFromJournal(machine.log);
    EXPECT_EQ(machine.fake.calls().back(), "networksetup -setdnsservers Wi-Fi Empty");
    EXPECT_FALSE(std::filesystem::exists(RoutingJournal::path()));

    auto calls = machine.fake.calls().size();
    test::writeFile(RoutingJournal::path(), "{\"serverIP\": 7");
    Routing::recoverFromJournal(machine.log);
    Routing::recoverFromJournal(machine.log);
    EXPECT_EQ(machine.fake.calls().size(), calls);
    EXPECT_FALSE(std::filesystem::exists(RoutingJournal::path()));
    EXPECT_TRUE(machine.messages().back().starts_with(
        "routing: журнал изменений прошлого запуска не читается, удаляю: "));
}

TEST(Routing, ReadersOfDefaultRouteInterfacesAndServerAddress) {
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

    EXPECT_EQ(Routing::resolveIPv4("203.0.113.7"), "203.0.113.7");
    // Shorthand the classic parser accepts is not a dotted quad: the resolver spells it out.
    EXPECT_EQ(Routing::resolveIPv4("127.1"), "127.0.0.1");
    EXPECT_EQ(Routing::resolveIPv4(std::string("127.0.0.1\0evil", 14)), std::nullopt);
    // A name that resolves to nothing stops the set-up before any command.
    auto calls = machine.fake.calls().size();
    EXPECT_THROW(machine.routing().configure("utun4", "", "192.168.1.1", false, "en0"), RoutingError);
    EXPECT_EQ(machine.fake.calls().size(), calls);
}

} // namespace
} // namespace orvex

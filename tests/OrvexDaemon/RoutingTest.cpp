#include "Routing.h"

#include "Log.h"
#include "Paths.h"
#include "RoutingJournal.h"
#include "ScriptedRunner.h"
#include "TestSupport.h"

#include <algorithm>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace orvex {
namespace {

using test::ScriptedRunner;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using Lines = std::vector<std::string>;

const char* const serviceOrder = "An asterisk (*) denotes that a network service is disabled.\n"
                                 "(1) Wi-Fi\n"
                                 "(Hardware Port: Wi-Fi, Device: en0)\n"
                                 "\n"
                                 "(2) USB LAN\n"
                                 "(Hardware Port: USB 10/100/1000 LAN, Device: en7)\n";

class RoutingTest : public ::testing::Test {
protected:
    RoutingTest() {
        log.setEnabled(true);
        script.answer("networksetup -listnetworkserviceorder", {0, serviceOrder});
        script.answer("networksetup -getdnsservers Wi-Fi", {0, "There aren't any DNS Servers set on Wi-Fi."});
        script.answer("networksetup -getdnsservers USB LAN", {0, "10.0.0.54\n10.0.0.53"});
    }

    Routing routing() {
        return Routing(log, script.runner(), [] { return std::set<std::string>{"en0", "en7", "lo0"}; });
    }
    Lines messages() { return test::messagesOf(log); }
    bool logged(const std::string& message) {
        auto all = messages();
        return std::find(all.begin(), all.end(), message) != all.end();
    }

    test::TempDir dir;
    test::ScopedEnv root{"ORVEX_ROOT", dir.path()};
    Log log{dir / "logs", "service"};
    ScriptedRunner script;
};

const Lines bypassAndHalfRoutes = {
    "ifconfig utun4 198.18.0.1 198.18.0.2 up",        "route -n delete -host 203.0.113.7",
    "route -n add -host 203.0.113.7 192.168.1.1",     "route -n delete -net 0.0.0.0/1 -interface utun4",
    "route -n add -net 0.0.0.0/1 -interface utun4",   "route -n delete -net 128.0.0.0/1 -interface utun4",
    "route -n add -net 128.0.0.0/1 -interface utun4",
};
const Lines scopedDefault = {"route -n delete -ifscope en0 default 192.168.1.1",
                             "route -n add -ifscope en0 default 192.168.1.1"};
const Lines ipv6AndDNS = {
    "route -n get -inet6 ::/1",
    "route -n add -inet6 -net ::/1 ::1 -reject",
    "route -n get -inet6 8000::/1",
    "route -n add -inet6 -net 8000::/1 ::1 -reject",
    "networksetup -listnetworkserviceorder",
    "networksetup -getdnsservers Wi-Fi",
    "networksetup -setdnsservers Wi-Fi 1.1.1.1 1.0.0.1",
    "networksetup -getdnsservers USB LAN",
    "networksetup -setdnsservers USB LAN 1.1.1.1 1.0.0.1",
};

Lines join(std::initializer_list<Lines> parts) {
    Lines all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST_F(RoutingTest, ConfigureAndTeardownRunEveryCommandInOrder) {
    script.answer("route -n add -host", {0, "add host 203.0.113.7: gateway 192.168.1.1"});
    auto withScope = routing();
    withScope.configure("utun4", "203.0.113.7", "192.168.1.1", false, "en0");
    EXPECT_THAT(script.lines(), ElementsAreArray(join({bypassAndHalfRoutes, scopedDefault, ipv6AndDNS})));
    EXPECT_THAT(
        messages(),
        ElementsAre(
            "routing: настройка начата iface=utun4 server=203.0.113.7 шлюз=192.168.1.1",
            "routing: IP сервера определён: 203.0.113.7", "routing: ifconfig (адрес utun): ok",
            "routing: route add (обход для сервера): ok (add host 203.0.113.7: "
            "gateway 192.168.1.1)",
            "routing: route add 0.0.0.0/1: ok", "routing: route add 128.0.0.0/1: ok",
            "routing: route add -ifscope en0 default (для прямого выхода): ok",
            "routing: route add ::/1 (заглушка IPv6): ok", "routing: route add 8000::/1 (заглушка IPv6): ok",
            "routing: DNS блокировка рекламы=false, серверы 1.1.1.1/1.0.0.1",
            "routing: networksetup -setdnsservers (Wi-Fi): ok",
            "routing: networksetup -setdnsservers (USB LAN): ok", "routing: настройка завершена успешно"));
    for (const auto& call : script.calls()) {
        bool isRoute = call.program == Paths::relocate("/sbin/route");
        bool isNetworksetup = call.program == Paths::relocate("/usr/sbin/networksetup");
        EXPECT_TRUE(isRoute || isNetworksetup || call.program == Paths::relocate("/sbin/ifconfig"));
        EXPECT_EQ(call.timeout, isNetworksetup ? 20 : 15) << call.line();
    }

    script.clear();
    withScope.teardown();
    EXPECT_THAT(script.lines(),
                ElementsAre("route -n delete -net 0.0.0.0/1 -interface utun4",
                            "route -n delete -net 128.0.0.0/1 -interface utun4",
                            "route -n delete -host 203.0.113.7",
                            "route -n delete -ifscope en0 default 192.168.1.1",
                            "route -n delete -inet6 -net ::/1", "route -n delete -inet6 -net 8000::/1",
                            "networksetup -setdnsservers USB LAN 10.0.0.54 10.0.0.53",
                            "networksetup -setdnsservers Wi-Fi Empty"));
    EXPECT_TRUE(logged("routing: networksetup вернуть DNS (Wi-Fi): ok"));

    // A second tear-down repeats only the half-space routes, whose failures are just logged.
    script.clear();
    script.answer("route -n delete", {1, "not in table"});
    withScope.teardown();
    EXPECT_THAT(script.lines(), ElementsAre("route -n delete -net 0.0.0.0/1 -interface utun4",
                                            "route -n delete -net 128.0.0.0/1 -interface utun4"));
    EXPECT_TRUE(logged("routing: route delete 0.0.0.0/1: ошибка: not in table"));
}

TEST_F(RoutingTest, ServerByNameWithoutPhysicalInterfaceAddsNoScopedRoute) {
    auto byName = routing();
    byName.configure("utun4", "localhost", "192.168.1.1", true, "");
    Lines expected = join({bypassAndHalfRoutes, ipv6AndDNS});
    for (auto& line : expected) {
        if (auto at = line.find("203.0.113.7"); at != std::string::npos) line.replace(at, 11, "127.0.0.1");
        if (auto at = line.find("1.1.1.1 1.0.0.1"); at != std::string::npos)
            line.replace(at, 15, "94.140.14.14 94.140.15.15");
    }
    EXPECT_THAT(script.lines(), ElementsAreArray(expected));
    EXPECT_TRUE(logged("routing: IP сервера определён: 127.0.0.1"));
    EXPECT_TRUE(logged("routing: DNS блокировка рекламы=true, серверы 94.140.14.14/94.140.15.15"));

    script.clear();
    byName.teardown();
    for (const auto& line : script.lines()) EXPECT_EQ(line.find("-ifscope"), std::string::npos) << line;
}

TEST_F(RoutingTest, FatalStepsFailWithTheirTextAndUndoWhatWasDone) {
    auto expectFailure = [&](size_t k, const std::string& output, const std::string& message,
                             const Lines& after) {
        script.clear();
        script.failCall(k, output);
        auto failing = routing();
        try {
            failing.configure("utun4", "203.0.113.7", "192.168.1.1", false, "en0");
            ADD_FAILURE() << "call " << k << " failing did not fail configure";
        } catch (const RoutingError& error) {
            EXPECT_EQ(error.what(), message);
            EXPECT_EQ(error.which(), RoutingError::Case::step);
        }
        Lines calls = script.lines();
        EXPECT_THAT(Lines(calls.begin() + static_cast<long>(std::min(k, calls.size())), calls.end()),
                    ElementsAreArray(after))
            << "call " << k;
        EXPECT_FALSE(std::filesystem::exists(RoutingJournal::path()));
    };
    expectFailure(1, "ifconfig: interface utun4 does not exist",
                  "не удалось назначить адрес интерфейсу utun4: ifconfig: interface utun4 does not exist",
                  {});
    expectFailure(3, "Network is unreachable",
                  "не удалось увести трафик к серверу мимо туннеля: Network is unreachable",
                  {"route -n delete -net 0.0.0.0/1 -interface utun4",
                   "route -n delete -net 128.0.0.0/1 -interface utun4"});
    expectFailure(7, "File exists", "не удалось завернуть трафик в туннель (128.0.0.0/1): File exists",
                  {"route -n delete -net 0.0.0.0/1 -interface utun4",
                   "route -n delete -net 128.0.0.0/1 -interface utun4", "route -n delete -host 203.0.113.7"});
    EXPECT_TRUE(logged("routing: ifconfig (адрес utun): ошибка: ifconfig: interface utun4 does not exist"));

    script.clear();
    auto unresolvable = routing();
    try {
        unresolvable.configure("utun4", "", "192.168.1.1", false, "en0");
        ADD_FAILURE() << "an empty host resolved";
    } catch (const RoutingError& error) {
        EXPECT_STREQ(error.what(), "не удалось определить IP сервера ()");
    }
    EXPECT_TRUE(script.calls().empty());
}

TEST_F(RoutingTest, DNSFailuresAreNotFatalAndUnreadableServersAreLeftAlone) {
    script.answer("networksetup -listnetworkserviceorder", {1, "networksetup: timed out"});
    routing().configure("utun4", "203.0.113.7", "192.168.1.1", false, "");
    EXPECT_TRUE(logged("routing: DNS не переключён (не фатально): активных сетевых служб не найдено"));
    EXPECT_EQ(messages().back(), "routing: настройка завершена успешно");

    // A reading that is a message rather than servers could never be put back.
    script.clear();
    script.answer("networksetup -listnetworkserviceorder", {0, serviceOrder});
    script.answer("networksetup -getdnsservers Wi-Fi", {0, "** Error: The parameters were not valid."});
    script.answer("networksetup -setdnsservers USB LAN", {4, "denied"});
    auto partly = routing();
    partly.configure("utun4", "203.0.113.7", "192.168.1.1", false, "");
    auto lines = script.lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "networksetup -setdnsservers Wi-Fi 1.1.1.1 1.0.0.1"), 0);
    EXPECT_TRUE(logged("routing: networksetup -setdnsservers (USB LAN): ошибка: denied"));
    EXPECT_TRUE(logged("routing: DNS не переключён (не фатально): ** Error: The parameters were not valid."));
    script.clear();
    partly.teardown();
    for (const auto& line : script.lines()) EXPECT_EQ(line.find("networksetup"), std::string::npos) << line;
}

TEST_F(RoutingTest, IPv6BlockReplacesStubsFallsBackToLoopbackAndIsLiftedOnlyWhenSet) {
    script.answer("route -n get -inet6 ::/1", {0, "route to: ::\ngateway: ::1\ninterface: lo0"});
    script.answer("route -n get -inet6 8000::/1", {0, "gateway: fe80::1%en0\ninterface: en0"});
    script.answer("route -n add -inet6 -net ::/1 ::1 -reject", {1, "refused"});
    auto hold = routing();
    hold.holdTraffic("utun5");
    EXPECT_THAT(script.lines(),
                ElementsAre("ifconfig utun5 198.18.0.1 198.18.0.2 up",
                            "route -n delete -net 0.0.0.0/1 -interface utun5",
                            "route -n add -net 0.0.0.0/1 -interface utun5",
                            "route -n delete -net 128.0.0.0/1 -interface utun5",
                            "route -n add -net 128.0.0.0/1 -interface utun5", "route -n get -inet6 ::/1",
                            "route -n delete -inet6 -net ::/1", "route -n add -inet6 -net ::/1 ::1 -reject",
                            "route -n add -inet6 -net ::/1 -interface lo0", "route -n get -inet6 8000::/1",
                            "route -n add -inet6 -net 8000::/1 ::1 -reject"));
    EXPECT_THAT(messages(), ElementsAre("routing: блокировка, интерфейс utun5",
                                        "routing: ifconfig (адрес utun для блокировки): ok",
                                        "routing: route add 0.0.0.0/1 (блокировка): ok",
                                        "routing: route add 128.0.0.0/1 (блокировка): ok",
                                        "routing: route add ::/1 (заглушка IPv6): ok",
                                        "routing: route add 8000::/1 (заглушка IPv6): ok",
                                        "routing: блокировка установлена"));
    script.clear();
    hold.teardown();
    EXPECT_THAT(script.lines(),
                ElementsAre("route -n delete -net 0.0.0.0/1 -interface utun5",
                            "route -n delete -net 128.0.0.0/1 -interface utun5",
                            "route -n delete -inet6 -net ::/1", "route -n delete -inet6 -net 8000::/1"));
    EXPECT_TRUE(logged("routing: route delete 8000::/1 (снятие заглушки IPv6): ok"));

    // When both forms are refused nothing is recorded, so tear-down leaves IPv6 alone.
    script.clear();
    script.answer("route -n add -inet6", {1, "refused"});
    auto refused = routing();
    refused.holdTraffic("utun5");
    EXPECT_TRUE(logged("routing: route add 8000::/1 (заглушка IPv6): ошибка: refused"));
    script.clear();
    refused.teardown();
    EXPECT_EQ(script.lines().size(), 2u);

    script.clear();
    script.failCall(3, "bad address: utun5");
    try {
        routing().holdTraffic("utun5");
        ADD_FAILURE() << "hold succeeded";
    } catch (const RoutingError& error) {
        EXPECT_STREQ(error.what(), "не удалось установить блокировку (0.0.0.0/1): bad address: utun5");
    }
    EXPECT_EQ(script.lines().back(), "route -n delete -net 128.0.0.0/1 -interface utun5");
}

TEST_F(RoutingTest, JournalIsWrittenBeforeEachChangeAndRemovedByTeardown) {
    std::vector<std::optional<RoutingJournal::Record>> seenAtChange;
    auto scripted = script.runner();
    Routing journaled(
        log,
        [&](const std::string& program, const std::vector<std::string>& arguments, double timeout) {
            if (arguments.size() > 1 && (arguments[1] == "add" || arguments[0] == "-setdnsservers"))
                seenAtChange.push_back(RoutingJournal::load());
            return scripted(program, arguments, timeout);
        },
        [] {
            return std::set<std::string>{"en0", "en7"};
        });
    journaled.configure("utun4", "203.0.113.7", "192.168.1.1", false, "en0");

    RoutingJournal::Record full{
        "203.0.113.7", "en0", "192.168.1.1", true, {{"USB LAN", "10.0.0.54 10.0.0.53"}, {"Wi-Fi", ""}}};
    EXPECT_EQ(RoutingJournal::load(), full);
    ASSERT_EQ(seenAtChange.size(), 8u);
    EXPECT_EQ(seenAtChange[0]->serverIP, "203.0.113.7"); // the bypass route, before it exists
    EXPECT_EQ(seenAtChange[3]->scopedIface, "en0");
    EXPECT_TRUE(seenAtChange[4]->ipv6Blocked);
    EXPECT_EQ(seenAtChange[6]->dnsBackup.count("Wi-Fi"), 1u);
    EXPECT_EQ(seenAtChange[7]->dnsBackup.at("USB LAN"), "10.0.0.54 10.0.0.53");

    // What tear-down cannot undo stays for the next start, which tries once and forgets it.
    script.answer("networksetup -setdnsservers Wi-Fi Empty", {1, "timed out"});
    journaled.teardown();
    EXPECT_EQ(RoutingJournal::load(), (RoutingJournal::Record{"", "", "", false, {{"Wi-Fi", ""}}}));
    script.clear();
    Routing::recoverFromJournal(log, script.runner());
    EXPECT_THAT(script.lines(), ElementsAre("networksetup -setdnsservers Wi-Fi Empty"));
    EXPECT_FALSE(std::filesystem::exists(RoutingJournal::path()));
    EXPECT_TRUE(
        logged("routing: найден журнал изменений прошлого запуска, возвращаю сеть в прежнее состояние"));

    script.clear();
    auto untouched = messages().size();
    Routing::recoverFromJournal(log, script.runner());
    EXPECT_TRUE(script.calls().empty());
    EXPECT_EQ(messages().size(), untouched);

    test::writeFile(RoutingJournal::path(), "{\"serverIP\": 7");
    Routing::recoverFromJournal(log, script.runner());
    EXPECT_TRUE(script.calls().empty());
    EXPECT_FALSE(std::filesystem::exists(RoutingJournal::path()));
    EXPECT_EQ(messages().back().rfind("routing: журнал изменений прошлого запуска не читается, удаляю: ", 0),
              0u);
}

TEST(RoutingReaders, ResolveIPv4KeepsDottedQuadsAndAsksTheResolverForTheRest) {
    EXPECT_EQ(Routing::resolveIPv4("203.0.113.7"), "203.0.113.7");
    EXPECT_EQ(Routing::resolveIPv4("localhost"), "127.0.0.1");
    // Shorthand the classic parser accepts is not a dotted quad: the resolver spells it out.
    EXPECT_EQ(Routing::resolveIPv4("127.1"), "127.0.0.1");
    EXPECT_EQ(Routing::resolveIPv4(""), std::nullopt);
    EXPECT_EQ(Routing::resolveIPv4(std::string("127.0.0.1\0evil", 14)), std::nullopt);
}

} // namespace
} // namespace orvex

#include "RoutingParsing.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace orvex;
using namespace orvex::RoutingParsing;

namespace {

std::string macOutput(const std::string& name) {
    return test::readFile(test::fixture("macos-output/" + name));
}

} // namespace

TEST(RoutingParsing, DefaultRouteFields) {
    auto v4 = defaultRouteFields(macOutput("route-get-default.txt"));
    EXPECT_EQ(v4.gateway, "192.168.1.1");
    EXPECT_EQ(v4.iface, "en0");

    // Only the first colon separates name and value.
    auto v6 = defaultRouteFields(macOutput("route-get-inet6-default.txt"));
    EXPECT_EQ(v6.gateway, "fe80::1%en0");
    EXPECT_EQ(v6.iface, "en0");

    auto missing = defaultRouteFields(macOutput("route-get-default-missing.txt"));
    EXPECT_EQ(missing.gateway, "");
    EXPECT_EQ(missing.iface, "");

    // A line with nothing after the colon is ignored; a later line replaces an earlier one.
    auto later = defaultRouteFields("gateway: 10.0.0.1\ngateway:\n\tinterface:\tutun4 \r\ninterface: en1\n");
    EXPECT_EQ(later.gateway, "10.0.0.1");
    EXPECT_EQ(later.iface, "en1");
    EXPECT_EQ(defaultRouteFields("  gateway: 10.0.0.1\n").iface, "");
    // Names must match exactly after trimming; leading colons are skipped as empty pieces.
    EXPECT_EQ(defaultRouteFields("Gateway: 1.1.1.1\ngateway x: 2.2.2.2").gateway, "");
    EXPECT_EQ(defaultRouteFields("::gateway:3.3.3.3").gateway, "3.3.3.3");
    EXPECT_EQ(defaultRouteFields("gateway::1").gateway, ":1");
    EXPECT_EQ(defaultRouteFields("").gateway, "");
}

TEST(RoutingParsing, ServiceOrderListsEnabledServicesWhoseDeviceIsUp) {
    auto text = macOutput("networksetup-listnetworkserviceorder.txt");
    std::set<std::string> up = {"lo0", "en0", "en5", "en6", "en7", "bridge0"};
    std::vector<std::string> expected = {"USB 10/100/1000 LAN", "Wi-Fi", "Thunderbolt Bridge",
                                         "Dock Ethernet"};
    EXPECT_EQ(serviceOrder(text, up), expected);
    EXPECT_EQ(serviceOrder(text, {"en8"}), std::vector<std::string>{"iPhone USB"});
    EXPECT_TRUE(serviceOrder(text, {}).empty());

    // A hardware line without a device clears the pending name, so the next hardware line
    // does not list it.
    EXPECT_TRUE(serviceOrder("(1) VPN\n(Hardware Port: L2TP)\n(Hardware Port: Wi-Fi, Device: en0)\n", {"en0"})
                    .empty());
    // A disabled service between a name and its hardware line leaves the name pending.
    EXPECT_EQ(serviceOrder("(1) A\n(*) B\n(Hardware Port: x, Device: en0)", {"en0"}),
              std::vector<std::string>{"A"});
    // Blanks around lines and around the device are dropped; ")" inside the device is removed.
    EXPECT_EQ(serviceOrder("  (12)   My  Net \t\n\t(Hardware Port: y, Device:  en)0) \n", {"en0"}),
              std::vector<std::string>{"My  Net"});
    // A name line needs its ")"; an empty name lists nothing.
    EXPECT_TRUE(serviceOrder("(1 Wi-Fi\n(Hardware Port: x, Device: en0)\n", {"en0"}).empty());
    EXPECT_TRUE(serviceOrder("(1)\n(Hardware Port: x, Device: en0)\n", {"en0"}).empty());
}

TEST(RoutingParsing, DnsServers) {
    EXPECT_EQ(dnsServers(macOutput("networksetup-getdnsservers-none.txt")), "");
    EXPECT_EQ(dnsServers("THERE ARE NO DNS servers"), "");
    EXPECT_EQ(dnsServers(macOutput("networksetup-getdnsservers-two.txt")), "192.168.1.1 fd00::1");
    EXPECT_EQ(dnsServers("  1.1.1.1  1.0.0.1\n\n\n8.8.8.8 \n"), "1.1.1.1 1.0.0.1 8.8.8.8");
    EXPECT_EQ(dnsServers(" \n\t "), "");
    EXPECT_EQ(dnsServers(""), "");
}

#include "LocalSocks.h"
#include "RoutingParsing.h"
#include "TestSupport.h"
#include "Vless.h"
#include "XrayConfig.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace orvex;
using nlohmann::json;
using Case = VlessError::Case;

namespace {

VlessLink link(const std::string& uuid, const std::string& address, std::int64_t port) {
    VlessLink link;
    link.uuid = uuid;
    link.address = address;
    link.port = port;
    return link;
}

VlessLink realityLink() {
    VlessLink reality = link("0f1e2d3c-aaaa-bbbb-cccc-112233445566", "de1.example.net", 443);
    reality.flow = "xtls-rprx-vision";
    reality.security = "reality";
    reality.sni = "www.example.com";
    reality.fingerprint = "chrome";
    reality.publicKey = "Pk0";
    reality.shortID = "6ba8";
    reality.spiderX = "/";
    return reality;
}

// The case and text `read` fails with on a text, or nothing when it reads it.
template <auto read> std::optional<std::pair<Case, std::string>> failureOf(const std::string& text) {
    try {
        read(text);
    } catch (const VlessError& error) {
        return std::pair{error.which(), std::string(error.what())};
    }
    return std::nullopt;
}

struct Fault {
    Case which;
    std::string text;
    std::vector<std::string> inputs;
};

const LocalSocks socks{10808, "0123456789abcdef", "00112233445566778899aabbccddeeff"};

json build(const VlessLink& link, bool splitRu = false, const std::string& ip = "",
           const std::string& iface = "", bool blockAds = false, bool verbose = false) {
    return json::parse(XrayConfig::build(link, splitRu, ip, iface, socks, blockAds, verbose));
}

// The proxy outbound's stream settings and user object, where the link variants differ.
json stream(const json& config) { return config["outbounds"][0]["streamSettings"]; }
json user(const json& config) { return config["outbounds"][0]["settings"]["vnext"][0]["users"][0]; }

} // namespace

TEST(Vless, ParsesEveryFieldFromItsKey) {
    VlessLink expected = realityLink();
    expected.publicKey = "Pk0-_x";
    expected.shortID = "6ba85179e30d4fc2";
    expected.spiderX = "/path/x";
    expected.type = "grpc";
    expected.remark = "Германия 1";
    EXPECT_EQ(
        Vless::parse(" \t vless://0f1e2d3c-aaaa-bbbb-cccc-112233445566@de1.example.net:443?encryption=none"
                     "&flow=xtls-rprx-vision&type=grpc&security=reality&sni=www.example.com&fp=chrome"
                     "&pbk=Pk0-_x&sid=6ba85179e30d4fc2&spx=%2Fpath%2Fx&extra=1#Германия%201\r\n"),
        expected);
    // Only the three mandatory parts: every query-fed field keeps its default; a key present
    // with an empty value overrides it. Host, user and port take the last separators; user id
    // and address are taken as written.
    EXPECT_EQ(Vless::parse("vless://id@host:8443"), link("id", "host", 8443));
    auto empty = Vless::parse("vless://id@host:1?encryption=&type=");
    EXPECT_EQ(empty.encryption + empty.type, "");
    EXPECT_EQ(Vless::parse("vless://id@[2001:db8::1]:65535"), link("id", "[2001:db8::1]", 65535));
    EXPECT_EQ(Vless::parse("vless://user@mail@host:443"), link("user@mail", "host", 443));
    EXPECT_EQ(Vless::parse("vless://a%40b@h%2Ex:+1"), link("a%40b", "h%2Ex", 1));
    // A "?" after the "#" belongs to the remark; malformed escapes, escapes of bytes that are
    // not UTF-8, "+" and a second "#" stay in it as written.
    auto remarked = Vless::parse("vless://id@host:443#name?security=tls&sni=x");
    EXPECT_EQ(remarked.remark + "|" + remarked.security + remarked.sni, "name?security=tls&sni=x|");
    remarked = Vless::parse("vless://id@host:443?sni=a#b%20c");
    EXPECT_EQ(remarked.remark + "|" + remarked.sni, "b c|a");
    for (const char* remark : {"a%2", "a%zz%20", "%FF%20", "a+b#c"})
        EXPECT_EQ(Vless::parse(std::string("vless://id@host:443#") + remark).remark, remark);
    // Query keys match case-sensitively and exactly; a later duplicate wins.
    EXPECT_EQ(
        Vless::parseQuery("a=1&&b&c=x+y%2Bz&a=2&d==e=&%41=k&f=%zz+1&g=&=v"),
        (std::map<std::string, std::string>{
            {"a", "2"}, {"c", "x y+z"}, {"d", "=e="}, {"%41", "k"}, {"f", "%zz 1"}, {"g", ""}, {"", "v"}}));
    auto keyed = Vless::parse("vless://id@host:443?SNI=upper&sni=first&sni=second&spx=%2F&flow=a+b");
    EXPECT_EQ(keyed.sni + "|" + keyed.spiderX + "|" + keyed.flow, "second|/|a b");
}

// No "@" beats every later fault, but one inside the fragment or the query does not count; an
// empty host is reported before a bad port; no ":" after the "@" is a port fault, even with no
// host either, and one in the user id does not count.
TEST(Vless, ReportsTheFirstFaultInOrder) {
    std::vector<std::string> badPorts = {"vless://id@host", "vless://id@", "vless://a:b@host"};
    for (const char* port : {"0", "65536", "-1", "abc", "", "+", " 443", "++443", "0x1bb", "44.3",
                             "99999999999999999999999", "４４３"})
        badPorts.push_back(std::string("vless://id@host:") + port);
    // clang-format off
    const Fault faults[] = {
        {Case::notVless, "это не vless:// ссылка", {"VLESS://id@host:443", "vmess://id@host:443", "", "vless:/id@h:1"}},
        {Case::noUUID, "в ссылке нет идентификатора пользователя",
         {"vless://host:443", "vless://@host:443", "vless://:", "vless://", "vless://h:1?x=a@b", "vless://h:1#a@b"}},
        {Case::noAddress, "в ссылке нет адреса сервера", {"vless://id@:443", "vless://id@:", "vless://id@:abc"}},
        {Case::badPort, "в ссылке некорректный порт", badPorts}};
    // clang-format on
    for (const Fault& fault : faults)
        for (const std::string& input : fault.inputs)
            EXPECT_EQ(failureOf<Vless::parse>(input), std::pair(fault.which, fault.text)) << input;
}

TEST(Vless, DecodesSubscriptions) {
    // The first line that is not blank once trimmed: "vless://id@host:443#x\n" padded and not,
    // "\n\n   first line  \r\nsecond\n" and "\r\n \r\nтретья".
    const std::pair<const char*, const char*> texts[] = {
        {"dmxlc3M6Ly9pZEBob3N0OjQ0MyN4Cg==", "vless://id@host:443#x"},
        {"  dmxlc3M6Ly9pZEBob3N0OjQ0MyN4Cg\n", "vless://id@host:443#x"},
        {"CgogICBmaXJzdCBsaW5lICANCnNlY29uZAo=", "first line"},
        {"DQogDQrRgtGA0LXRgtGM0Y8=", "третья"}};
    for (const auto& [text, line] : texts) EXPECT_EQ(Vless::decodeSubscription(text), line);
    // Not Base64, an inner line break, the URL-safe alphabet, a padding character too many,
    // padding in the middle, and bytes that are not UTF-8.
    // clang-format off
    const Fault faults[] = {
        {Case::emptySubscription, "подписка пуста", {"", " \n\t ", "CgoNCiAK" /* "\n\n\r\n \n" */}},
        {Case::badBase64, "подписка не читается",
         {"vless://id@host:443", "dmxlc3M6Ly9p\nZEBob3N0OjQ0MyN4Cg==", "_-__", "QQ===", "QQ==QUFB", "Q", "====", "//79"}}};
    // clang-format on
    for (const Fault& fault : faults)
        for (const std::string& input : fault.inputs)
            EXPECT_EQ(failureOf<Vless::decodeSubscription>(input), std::pair(fault.which, fault.text))
                << input;
}

// The real engine runs these configurations in the interop tests; here is where links differ.
TEST(XrayConfig, SecurityAndFlowVariants) {
    // The tie to the physical network is only written with split routing.
    std::string text = XrayConfig::build(realityLink(), false, "192.168.1.20", "en0", socks, true, false);
    EXPECT_EQ(text, json::parse(text).dump(2)); // keys sorted, two-space indentation
    json reality = json::parse(text);
    EXPECT_EQ(reality["inbounds"], json::parse(R"([{"listen": "127.0.0.1", "port": 10808, "protocol": "socks",
        "tag": "tun2socks-in", "settings": {"auth": "password", "udp": true,
        "accounts": [{"pass": "00112233445566778899aabbccddeeff", "user": "0123456789abcdef"}]}}])"));
    EXPECT_FALSE(reality.contains("routing") || reality.contains("dns"));
    EXPECT_EQ(reality["outbounds"][1], json::parse(R"({"protocol": "freedom", "tag": "direct"})"));
    EXPECT_EQ(reality["outbounds"][2], json::parse(R"({"protocol": "blackhole", "tag": "block"})"));
    EXPECT_EQ(reality["log"]["loglevel"], "warning");
    EXPECT_EQ(user(reality), json::parse(R"({"encryption": "none", "flow": "xtls-rprx-vision",
        "id": "0f1e2d3c-aaaa-bbbb-cccc-112233445566"})"));
    EXPECT_EQ(stream(reality), json::parse(R"({"network": "tcp", "security": "reality", "realitySettings":
        {"fingerprint": "chrome", "publicKey": "Pk0", "serverName": "www.example.com", "shortId": "6ba8", "spiderX": "/"}})"));
    VlessLink tls = link("u", "[2001:db8::1]", 8443);
    tls.security = "tls";
    tls.sni = "ignored.example";
    tls.type = "ws";
    tls.encryption = "";
    auto config = build(tls);
    EXPECT_EQ(user(config), json::parse(R"({"id": "u", "encryption": ""})"));
    EXPECT_EQ(stream(config), json::parse(R"({"network": "ws", "security": "tls"})"));
    EXPECT_EQ(config["outbounds"][0]["settings"]["vnext"][0]["address"], "[2001:db8::1]");
    EXPECT_EQ(stream(build(link("u", "h", 1))), json::parse(R"({"network": "tcp"})"));
    // Only the exact word selects REALITY settings; empty ones are still all written.
    VlessLink other = link("u", "сервер.рф", 1);
    other.security = "Reality";
    EXPECT_EQ(stream(build(other)), json::parse(R"({"network": "tcp", "security": "Reality"})"));
    other.security = "reality";
    EXPECT_EQ(stream(build(other))["realitySettings"],
              json::parse(
                  R"({"serverName": "", "fingerprint": "", "publicKey": "", "shortId": "", "spiderX": ""})"));
    // Text outside ASCII goes through unchanged; text that is not UTF-8 cannot be written.
    EXPECT_EQ(build(other)["outbounds"][0]["settings"]["vnext"][0]["address"], "сервер.рф");
    other.flow = "\xff";
    EXPECT_EQ(XrayConfig::build(other, false, "", "", socks, false, false), "{}");
}

TEST(XrayConfig, SplitRoutingTiesDirectTrafficToTheNetwork) {
    auto both = build(realityLink(), true, "192.168.1.20", "en0", true, true);
    EXPECT_EQ(both["outbounds"][1], json::parse(R"({"tag": "direct", "protocol": "freedom",
        "streamSettings": {"sockopt": {"interface": "en0"}}})"));
    EXPECT_EQ(both["log"]["loglevel"], "debug");
    EXPECT_EQ(both["dns"], json::parse(R"({"servers": ["94.140.14.14", "94.140.15.15"]})"));
    EXPECT_EQ(both["routing"], json::parse(R"({"domainStrategy": "IPIfNonMatch", "rules": [
        {"type": "field", "outboundTag": "direct", "ip": ["geoip:private"]},
        {"type": "field", "outboundTag": "direct", "ip": ["geoip:ru"]},
        {"type": "field", "outboundTag": "direct",
         "domain": ["geosite:category-ru", "geosite:yandex", "geosite:vk", "geosite:mailru"]}]})"));
    auto ipOnly = build(realityLink(), true, "192.168.1.20");
    EXPECT_EQ(ipOnly["outbounds"][1],
              json::parse(R"({"tag": "direct", "protocol": "freedom", "sendThrough": "192.168.1.20"})"));
    EXPECT_EQ(ipOnly["dns"], json::parse(R"({"servers": ["1.1.1.1", "1.0.0.1"]})"));
    EXPECT_EQ(build(realityLink(), true)["outbounds"][1],
              json::parse(R"({"tag": "direct", "protocol": "freedom"})"));
}

// The real engine binds the port and refuses other credentials in the interop test; here each
// call brings credentials of its own.
TEST(LocalSocks, AllocatesAPortWithFreshCredentials) {
    auto first = LocalSocks::allocate(), second = LocalSocks::allocate();
    EXPECT_EQ((first.user + first.pass).find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(first.user.size() + first.pass.size(), 48u);
    EXPECT_NE(first.user + first.pass, second.user + second.pass);
}

TEST(RoutingParsing, DefaultRouteFieldsAndDnsServers) {
    auto mac = [](const std::string& name) { return test::readFile(test::fixture("macos-output/" + name)); };
    // Only the first colon separates name and value; a line with nothing after the colon is
    // ignored; a later line replaces an earlier one; names must match exactly after trimming.
    const std::pair<std::string, std::string> routes[] = {
        {mac("route-get-default.txt"), "192.168.1.1 en0"},
        {mac("route-get-inet6-default.txt"), "fe80::1%en0 en0"},
        {mac("route-get-default-missing.txt"), " "},
        {"gateway: 10.0.0.1\ngateway:\n\tinterface:\tutun4 \r\ninterface: en1\n", "10.0.0.1 en1"},
        {"  gateway: 10.0.0.1\n", "10.0.0.1 "},
        {"Gateway: 1.1.1.1\ngateway x: 2.2.2.2", " "},
        {"gateway::1", ":1 "}};
    for (const auto& [text, fields] : routes) {
        auto route = RoutingParsing::defaultRouteFields(text);
        EXPECT_EQ(route.gateway + " " + route.iface, fields) << text;
    }
    const std::pair<std::string, std::string> dns[] = {
        {mac("networksetup-getdnsservers-none.txt"), ""},
        {mac("networksetup-getdnsservers-two.txt"), "192.168.1.1 fd00::1"},
        {"  1.1.1.1  1.0.0.1\n\n\n8.8.8.8 \n", "1.1.1.1 1.0.0.1 8.8.8.8"}};
    for (const auto& [text, servers] : dns) EXPECT_EQ(RoutingParsing::dnsServers(text), servers) << text;
}

TEST(RoutingParsing, ServiceOrderListsEnabledServicesWhoseDeviceIsUp) {
    using Names = std::vector<std::string>;
    auto text = test::readFile(test::fixture("macos-output/networksetup-listnetworkserviceorder.txt"));
    EXPECT_EQ(RoutingParsing::serviceOrder(text, {"lo0", "en0", "en5", "en6", "en7", "bridge0"}),
              (Names{"USB 10/100/1000 LAN", "Wi-Fi", "Thunderbolt Bridge", "Dock Ethernet"}));
    EXPECT_EQ(RoutingParsing::serviceOrder(text, {"en8"}), Names{"iPhone USB"});
    // A hardware line without a device clears the pending name; a disabled service between a
    // name and its hardware line leaves the name pending; blanks around lines and the device
    // are dropped, and ")" inside the device removed.
    const std::pair<std::string, Names> cases[] = {
        {"(1) VPN\n(Hardware Port: L2TP)\n(Hardware Port: Wi-Fi, Device: en0)\n", {}},
        {"(1) A\n(*) B\n(Hardware Port: x, Device: en0)", {"A"}},
        {"  (12)   My  Net \t\n\t(Hardware Port: y, Device:  en)0) \n", {"My  Net"}}};
    for (const auto& [listing, names] : cases)
        EXPECT_EQ(RoutingParsing::serviceOrder(listing, {"en0"}), names) << listing;
}

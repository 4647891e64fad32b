#include "XrayConfig.h"

#include "EngineError.h"
#include "FileDescriptor.h"
#include "LocalSocks.h"
#include "VlessLink.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

using namespace orvex;
using nlohmann::json;

namespace {

LocalSocks socks() {
    LocalSocks s;
    s.port = 10808;
    s.user = "0123456789abcdef";
    s.pass = "00112233445566778899aabbccddeeff";
    return s;
}

VlessLink realityLink() {
    VlessLink link;
    link.uuid = "0f1e2d3c-aaaa-bbbb-cccc-112233445566";
    link.address = "de1.example.net";
    link.port = 443;
    link.flow = "xtls-rprx-vision";
    link.security = "reality";
    link.sni = "www.example.com";
    link.fingerprint = "chrome";
    link.publicKey = "Pk0";
    link.shortID = "6ba8";
    link.spiderX = "/";
    return link;
}

json build(const VlessLink& link, bool splitRu = false, const std::string& ip = "",
           const std::string& iface = "", bool blockAds = false, bool verbose = false) {
    return json::parse(XrayConfig::build(link, splitRu, ip, iface, socks(), blockAds, verbose));
}

// The proxy outbound's stream settings and user object, where the link variants differ.
json stream(const json& config) { return config["outbounds"][0]["streamSettings"]; }
json user(const json& config) { return config["outbounds"][0]["settings"]["vnext"][0]["users"][0]; }

// The whole text of a REALITY link without split routing: pins key order and indentation.
const char* const realityText = R"({
  "inbounds": [
    {
      "listen": "127.0.0.1",
      "port": 10808,
      "protocol": "socks",
      "settings": {
        "accounts": [
          {
            "pass": "00112233445566778899aabbccddeeff",
            "user": "0123456789abcdef"
          }
        ],
        "auth": "password",
        "udp": true
      },
      "tag": "tun2socks-in"
    }
  ],
  "log": {
    "loglevel": "warning"
  },
  "outbounds": [
    {
      "protocol": "vless",
      "settings": {
        "vnext": [
          {
            "address": "de1.example.net",
            "port": 443,
            "users": [
              {
                "encryption": "none",
                "flow": "xtls-rprx-vision",
                "id": "0f1e2d3c-aaaa-bbbb-cccc-112233445566"
              }
            ]
          }
        ]
      },
      "streamSettings": {
        "network": "tcp",
        "realitySettings": {
          "fingerprint": "chrome",
          "publicKey": "Pk0",
          "serverName": "www.example.com",
          "shortId": "6ba8",
          "spiderX": "/"
        },
        "security": "reality"
      },
      "tag": "proxy"
    },
    {
      "protocol": "freedom",
      "tag": "direct"
    },
    {
      "protocol": "blackhole",
      "tag": "block"
    }
  ]
})";

} // namespace

TEST(XrayConfig, RealityLinkWithoutSplitRouting) {
    // The tie to the physical network is only written with split routing.
    auto text = XrayConfig::build(realityLink(), false, "192.168.1.20", "en0", socks(), true, false);
    EXPECT_EQ(text, realityText);
}

TEST(XrayConfig, SecurityAndFlowVariants) {
    VlessLink tls;
    tls.uuid = "u";
    tls.address = "[2001:db8::1]";
    tls.port = 8443;
    tls.security = "tls";
    tls.sni = "ignored.example";
    tls.type = "ws";
    tls.encryption = "";
    auto config = build(tls);
    EXPECT_EQ(user(config), json::parse(R"({"id": "u", "encryption": ""})"));
    EXPECT_EQ(stream(config), json::parse(R"({"network": "ws", "security": "tls"})"));
    EXPECT_EQ(config["outbounds"][0]["settings"]["vnext"][0]["address"], "[2001:db8::1]");
    EXPECT_EQ(config["outbounds"][0]["settings"]["vnext"][0]["port"], 8443);

    VlessLink plain;
    plain.uuid = "u";
    plain.address = "h";
    plain.port = 1;
    EXPECT_EQ(stream(build(plain)), json::parse(R"({"network": "tcp"})"));
    EXPECT_EQ(user(build(plain)), json::parse(R"({"id": "u", "encryption": "none"})"));

    // Only the exact word selects REALITY settings; empty ones are still all written.
    VlessLink capital = plain;
    capital.security = "Reality";
    EXPECT_EQ(stream(build(capital)), json::parse(R"({"network": "tcp", "security": "Reality"})"));
    VlessLink bareReality = plain;
    bareReality.security = "reality";
    EXPECT_EQ(stream(build(bareReality)),
              json::parse(R"({"network": "tcp", "security": "reality", "realitySettings":
        {"serverName": "", "fingerprint": "", "publicKey": "", "shortId": "", "spiderX": ""}})"));

    // Text outside ASCII goes through unchanged; text that is not UTF-8 cannot be written.
    VlessLink cyrillic = plain;
    cyrillic.address = "сервер.рф";
    EXPECT_EQ(build(cyrillic)["outbounds"][0]["settings"]["vnext"][0]["address"], "сервер.рф");
    VlessLink broken = plain;
    broken.flow = "\xff";
    EXPECT_EQ(XrayConfig::build(broken, false, "", "", socks(), false, false), "{}");
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
    // Everything else is as without split routing.
    auto plain = build(realityLink());
    EXPECT_EQ(both["inbounds"], plain["inbounds"]);
    EXPECT_EQ(both["outbounds"][0], plain["outbounds"][0]);
    EXPECT_EQ(both["outbounds"][2], plain["outbounds"][2]);

    auto ipOnly = build(realityLink(), true, "192.168.1.20", "", false, false);
    EXPECT_EQ(ipOnly["outbounds"][1],
              json::parse(R"({"tag": "direct", "protocol": "freedom", "sendThrough": "192.168.1.20"})"));
    EXPECT_EQ(ipOnly["dns"], json::parse(R"({"servers": ["1.1.1.1", "1.0.0.1"]})"));
    EXPECT_EQ(build(realityLink(), true)["outbounds"][1],
              json::parse(R"({"tag": "direct", "protocol": "freedom"})"));
}

TEST(LocalSocks, AllocatesAFreePortWithFreshCredentials) {
    auto first = LocalSocks::allocate();
    auto second = LocalSocks::allocate();
    for (const auto& s : {first, second}) {
        EXPECT_GT(s.port, 0);
        EXPECT_LE(s.port, 65535);
        EXPECT_EQ(s.user.size(), 16u);
        EXPECT_EQ(s.pass.size(), 32u);
        EXPECT_EQ((s.user + s.pass).find_first_not_of("0123456789abcdef"), std::string::npos);
        EXPECT_EQ(s.addr(), "127.0.0.1:" + std::to_string(s.port));
        EXPECT_EQ(s.proxyURL(), "socks5://" + s.user + ":" + s.pass + "@127.0.0.1:" + std::to_string(s.port));

        // The probe socket is closed: the engine can bind the port.
        FileDescriptor engine(::socket(AF_INET, SOCK_STREAM, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(s.port));
        EXPECT_EQ(::bind(engine.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << s.port;
    }
    EXPECT_NE(first.user, second.user);
    EXPECT_NE(first.pass, second.pass);
    EXPECT_EQ(LocalSocks::randomHex(0), "");
    EXPECT_EQ(LocalSocks::randomHex(300).size(), 600u);

    EXPECT_STREQ(EngineError::missingBinary("/x/xray").what(), "не найден файл движка: /x/xray");
    EXPECT_EQ(EngineError::missingBinary("/x/xray").detail(), "/x/xray");
    EXPECT_STREQ(EngineError::engineExited("bad config").what(),
                 "движок завершился сразу после запуска: bad config");
    EXPECT_STREQ(EngineError::noFreePort().what(), "не удалось выбрать локальный порт");
    EXPECT_EQ(EngineError::portNotReady().which(), EngineError::Case::portNotReady);
    EXPECT_STREQ(EngineError::portNotReady().what(), "движок не поднял локальный порт");
}

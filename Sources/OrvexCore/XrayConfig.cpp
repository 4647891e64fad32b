#include "XrayConfig.h"

#include "Config.h"

#include "LocalSocks.h"
#include "VlessLink.h"

#include <nlohmann/json.hpp>

#include <vector>

namespace orvex::XrayConfig {

using nlohmann::json;

namespace {

json proxyOutbound(const VlessLink& link) {
    json user = {{"id", link.uuid}, {"encryption", link.encryption}};
    if (!link.flow.empty()) user["flow"] = link.flow;

    json stream = {{"network", link.type}};
    if (!link.security.empty()) stream["security"] = link.security;
    // Only REALITY carries settings of its own; TLS and the rest are left to the engine.
    if (link.security == "reality")
        stream["realitySettings"] = {{"serverName", link.sni},
                                     {"fingerprint", link.fingerprint},
                                     {"publicKey", link.publicKey},
                                     {"shortId", link.shortID},
                                     {"spiderX", link.spiderX}};

    json server = {{"address", link.address}, {"port", link.port}, {"users", json::array({user})}};
    return {{"tag", "proxy"},
            {"protocol", "vless"},
            {"settings", {{"vnext", json::array({server})}}},
            {"streamSettings", stream}};
}

json inbound(const LocalSocks& socks) {
    json account = {{"user", socks.user}, {"pass", socks.pass}};
    return {{"tag", "tun2socks-in"},
            {"listen", "127.0.0.1"},
            {"port", socks.port},
            {"protocol", "socks"},
            {"settings", {{"auth", "password"}, {"accounts", json::array({account})}, {"udp", true}}}};
}

} // namespace

std::pair<std::string, std::string> dnsPair(bool blockAds) {
    if (auto pairs = Config::dnsPairs(); !pairs.empty())
        return blockAds ? std::pair{pairs[2], pairs[3]} : std::pair{pairs[0], pairs[1]};
    if (blockAds) return {dnsAdsPrimary, dnsAdsSecondary};
    return {dnsOpenPrimary, dnsOpenSecondary};
}

json routing() {
    auto rule = [](const char* key, const std::vector<std::string>& values) {
        return json{{"type", "field"}, {"outboundTag", "direct"}, {key, values}};
    };
    return {{"domainStrategy", "IPIfNonMatch"},
            {"rules", json::array({rule("ip", {"geoip:private"}), rule("ip", {"geoip:ru"}),
                                   rule("domain", {"geosite:category-ru", "geosite:yandex", "geosite:vk",
                                                   "geosite:mailru"})})}};
}

json dns(bool blockAds) {
    auto [primary, secondary] = dnsPair(blockAds);
    return {{"servers", json::array({primary, secondary})}};
}

namespace {

json document(const VlessLink& link, bool splitRu, const std::string& sendThroughIP,
              const std::string& sendThroughInterface, const LocalSocks& socks, bool blockAds, bool verbose) {
    json direct = {{"tag", "direct"}, {"protocol", "freedom"}};
    if (splitRu) {
        if (!sendThroughInterface.empty())
            direct["streamSettings"] = {{"sockopt", {{"interface", sendThroughInterface}}}};
        else if (!sendThroughIP.empty())
            direct["sendThrough"] = sendThroughIP;
    }
    json config = {{"log", {{"loglevel", verbose ? "debug" : "warning"}}},
                   {"inbounds", json::array({inbound(socks)})},
                   {"outbounds", json::array({proxyOutbound(link), direct,
                                              json{{"tag", "block"}, {"protocol", "blackhole"}}})}};
    if (splitRu) {
        config["routing"] = routing();
        config["dns"] = dns(blockAds);
    }
    return config;
}

std::string serialize(const json& config) {
    try {
        return config.dump(2);
    } catch (const json::type_error& error) {
        // 316: a string that is not UTF-8. Such text cannot form a configuration the engine
        // reads, so the engine gets an empty one and refuses to start instead of reading
        // mangled values.
        if (error.id == 316) return "{}";
        throw;
    }
}

json transparentInbound(const char* network, const char* mode, std::int64_t port) {
    return {{"tag", std::string("transparent-") + mode},
            {"listen", "127.0.0.1"},
            {"port", port},
            {"protocol", "dokodemo-door"},
            {"settings", {{"network", network}, {"followRedirect", true}}},
            {"streamSettings", {{"sockopt", {{"tproxy", mode}}}}}};
}

} // namespace

std::string build(const VlessLink& link, bool splitRu, const std::string& sendThroughIP,
                  const std::string& sendThroughInterface, const LocalSocks& socks, bool blockAds,
                  bool verbose) {
    return serialize(document(link, splitRu, sendThroughIP, sendThroughInterface, socks, blockAds, verbose));
}

std::string buildTransparent(const VlessLink& link, bool splitRu, const std::string& sendThroughIP,
                             const std::string& sendThroughInterface, const LocalSocks& socks, bool blockAds,
                             bool verbose, std::int64_t transparentPort, std::int64_t tproxyPort) {
    json config = document(link, splitRu, sendThroughIP, sendThroughInterface, socks, blockAds, verbose);
    // TPROXY's mode would read a redirected connection's destination from its local address,
    // which the redirect has replaced: redirected TCP needs the redirect mode. DNS over TCP
    // cannot be redirected after it is steered to the pair (one address rewrite per
    // connection), so it comes by TPROXY with the UDP, to a port of its own: two listeners
    // cannot share one TCP port.
    config["inbounds"].push_back(transparentInbound("tcp", "redirect", transparentPort));
    config["inbounds"].push_back(transparentInbound("tcp,udp", "tproxy", tproxyPort));
    for (auto& outbound : config["outbounds"])
        if (outbound["protocol"] != "blackhole") outbound["streamSettings"]["sockopt"]["mark"] = engineMark;
    return serialize(config);
}

} // namespace orvex::XrayConfig

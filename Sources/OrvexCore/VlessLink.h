#pragma once

#include <cstdint>
#include <string>

namespace orvex {

// One server as a `vless://` link describes it; the engine configuration reads it field by
// field. The defaults are what a link without the corresponding query key means.
struct VlessLink {
    std::string uuid;
    std::string address; // as written: an IPv6 literal keeps its square brackets
    std::int64_t port = 0;
    std::string encryption = "none";
    std::string flow;
    std::string type = "tcp"; // transport
    std::string security;
    std::string sni;
    std::string fingerprint;
    std::string publicKey;
    std::string shortID;
    std::string spiderX;
    std::string remark;

    bool operator==(const VlessLink&) const = default;
};

} // namespace orvex

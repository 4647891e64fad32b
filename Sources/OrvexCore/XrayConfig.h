#pragma once

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <string>
#include <utility>

namespace orvex {
struct LocalSocks;
struct VlessLink;
} // namespace orvex

// The proxy engine's configuration file, written before every engine start.
namespace orvex::XrayConfig {

// Resolvers that answer advertising and tracking domains with nothing.
inline constexpr const char* dnsAdsPrimary = "94.140.14.14";
inline constexpr const char* dnsAdsSecondary = "94.140.15.15";
// A plain public resolver.
inline constexpr const char* dnsOpenPrimary = "1.1.1.1";
inline constexpr const char* dnsOpenSecondary = "1.0.0.1";

// The socket mark the engine puts on its own connections on Linux, by which the capture
// leaves them alone.
inline constexpr int engineMark = 255;

// Primary first.
std::pair<std::string, std::string> dnsPair(bool blockAds);

// Private and Russian addresses and Russian sites go out directly; everything else through
// the proxy.
nlohmann::json routing();
nlohmann::json dns(bool blockAds);

// Pretty-printed JSON with the keys of every object sorted, so equal inputs give equal bytes.
// The link is written as it is: an engine that does not understand a value refuses to start,
// which the tunnel reports. With `splitRu` the direct outbound leaves through
// `sendThroughInterface`, else through `sendThroughIP`, so that it does not loop into the
// tunnel. Throws only if the serializer fails.
std::string build(const VlessLink& link, bool splitRu, const std::string& sendThroughIP,
                  const std::string& sendThroughInterface, const LocalSocks& socks, bool blockAds,
                  bool verbose);

// The Linux form of `build`: the same plus two transparent inbounds, one on
// 127.0.0.1:`transparentPort` for the TCP that nftables redirects there (its destination read
// from the redirect) and one on 127.0.0.1:`tproxyPort` for what it hands over by TPROXY (UDP,
// and TCP to the DNS pair), and the engine's mark on the outbounds that connect, so that the
// capture leaves them alone.
std::string buildTransparent(const VlessLink& link, bool splitRu, const std::string& sendThroughIP,
                             const std::string& sendThroughInterface, const LocalSocks& socks, bool blockAds,
                             bool verbose, std::int64_t transparentPort, std::int64_t tproxyPort);

} // namespace orvex::XrayConfig

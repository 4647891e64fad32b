// What `networksetup -getdnsservers <service>` prints: servers joined by single blanks.
#include "RoutingParsing.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto servers = orvex::RoutingParsing::dnsServers(text);
    if (servers.starts_with(' ') || servers.ends_with(' ') || servers.find("  ") != std::string::npos ||
        servers.find('\n') != std::string::npos)
        std::abort();
    return 0;
}

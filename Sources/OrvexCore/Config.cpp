#include "Config.h"

#include <arpa/inet.h>
#include <cstdlib>

#include "Text.h"

namespace orvex::Config {
namespace {

std::string setting(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    if (value != nullptr && value[0] != '\0') return value;
    return fallback;
}

} // namespace

std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> pieces;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        std::string piece = Text::trim(std::string_view(text).substr(start, comma - start));
        if (!piece.empty()) pieces.push_back(piece);
        start = comma + 1;
    }
    return pieces;
}

std::vector<std::string> apiBases() { return splitList(setting("ORVEX_API_BASES", ORVEX_DEFAULT_API_BASES)); }
std::vector<std::string> updateMirrors() {
    return splitList(setting("ORVEX_UPDATE_MIRRORS", ORVEX_DEFAULT_UPDATE_MIRRORS));
}
std::string botURL() { return setting("ORVEX_BOT_URL", ORVEX_DEFAULT_BOT_URL); }
std::string exitIPURL() { return setting("ORVEX_EXIT_IP_URL", ORVEX_DEFAULT_EXIT_IP_URL); }
std::string speedTestURL() { return setting("ORVEX_SPEEDTEST_URL", ORVEX_DEFAULT_SPEEDTEST_URL); }
std::string caFile() { return setting("ORVEX_CA_FILE", ""); }
std::vector<std::string> dnsPairs() {
    auto pairs = splitList(setting("ORVEX_DNS_PAIRS", ""));
    // The addresses end up in firewall rules and the engine's configuration: nothing but
    // dotted IPv4 may pass.
    in_addr parsed{};
    for (const auto& address : pairs)
        if (inet_pton(AF_INET, address.c_str(), &parsed) != 1) return {};
    if (pairs.size() != 4) return {};
    return pairs;
}

} // namespace orvex::Config

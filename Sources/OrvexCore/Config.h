#pragma once

#include <string>
#include <vector>

// Deployment configuration: host names baked in at build time, overridden by the
// environment so tests and staging point ORVEX at their own servers.
namespace orvex::Config {

std::vector<std::string> apiBases();      // ORVEX_API_BASES, three in order of preference
std::vector<std::string> updateMirrors(); // ORVEX_UPDATE_MIRRORS
std::string botURL();                     // ORVEX_BOT_URL
std::string exitIPURL();                  // ORVEX_EXIT_IP_URL
std::string speedTestURL();               // ORVEX_SPEEDTEST_URL
std::string caFile();                     // ORVEX_CA_FILE; empty when unset
// ORVEX_DNS_PAIRS: "open1,open2,ads1,ads2", the resolvers without and with ad blocking; empty
// unless it names exactly four addresses.
std::vector<std::string> dnsPairs();

// Comma-separated list, pieces trimmed, empty pieces dropped.
std::vector<std::string> splitList(const std::string& text);

} // namespace orvex::Config

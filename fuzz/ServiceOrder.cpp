// What `networksetup -listnetworkserviceorder` prints. Each listed service needs its own
// name line and hardware line, so there are never more services than half the lines.
#include "RoutingParsing.h"

#include <algorithm>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    auto services = orvex::RoutingParsing::serviceOrder(text, {"en0", "en1", "bridge0", "utun4"});
    if (services.size() * 2 > lines) std::abort();
    for (const auto& name : services)
        if (name.empty() || name.find('\n') != std::string::npos) std::abort();
    return 0;
}

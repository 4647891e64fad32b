// What `route -n get default` prints. The values never carry the blanks around them.
#include "RoutingParsing.h"
#include "Text.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto fields = orvex::RoutingParsing::defaultRouteFields(text);
    for (const auto& value : {fields.gateway, fields.iface})
        if (orvex::Text::trimSpacesAndTabs(value) != value || value.find('\n') != std::string::npos)
            std::abort();
    return 0;
}

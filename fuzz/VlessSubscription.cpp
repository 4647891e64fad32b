// Subscription texts come from the account server. The result, when there is one, is a
// single trimmed line of UTF-8.
#include "Text.h"
#include "Vless.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    std::string line;
    try {
        line = orvex::Vless::decodeSubscription(text);
    } catch (const orvex::VlessError&) {
        return 0;
    }
    if (line.empty() || !orvex::Text::isValidUTF8(line) || line.find('\n') != std::string::npos ||
        orvex::Text::trim(line) != line)
        std::abort();
    return 0;
}

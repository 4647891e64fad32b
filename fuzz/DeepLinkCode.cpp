#include <cstdint>
#include <cstdlib>
#include <string>

#include "DeepLink.h"
#include "Text.h"

using namespace orvex;

// A code, when found, is non-empty trimmed UTF-8, and only links of ORVEX's scheme have one.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string url(reinterpret_cast<const char*>(data), size);
    auto code = DeepLink::code(url);
    if (!code) return 0;
    if (code->empty() || !Text::isValidUTF8(*code) || Text::trim(*code) != *code) std::abort();
    if (url.size() < 9 || Text::asciiLower(url.substr(0, 9)) != "orvexvpn:") std::abort();
    return 0;
}

// The explanation pulled from an error body must never fail and is always UTF-8 text.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "APIClient.h"
#include "Text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string detail =
        orvex::APIClient::detail(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!orvex::Text::isValidUTF8(detail)) abort();
    return 0;
}

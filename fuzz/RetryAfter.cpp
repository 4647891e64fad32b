// A Retry-After value gives a non-negative number of seconds, and a positive one only for a
// plain decimal number that means exactly that.
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "APIError.h"
#include "Text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    std::int64_t seconds = orvex::APIError::parseRetryAfter(text);
    if (seconds < 0) abort();
    if (seconds == 0) return 0;
    std::string trimmed = orvex::Text::trimSpacesAndTabs(text);
    const char* first = trimmed.data() + (trimmed[0] == '+' ? 1 : 0);
    std::int64_t expected = 0;
    auto [end, error] = std::from_chars(first, trimmed.data() + trimmed.size(), expected);
    if (error != std::errc() || end != trimmed.data() + trimmed.size() || expected != seconds) abort();
    return 0;
}

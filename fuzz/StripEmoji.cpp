#include <cstdint>
#include <cstdlib>
#include <string>

#include "Text.h"
#include "Texts.h"

using namespace orvex;

// The result is valid UTF-8 with no dropped scalar, no double space and no white space at
// its ends, and cleaning it again changes nothing.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    std::string out = Texts::stripEmoji(text);
    if (!Text::isValidUTF8(out)) std::abort();
    if (out.find("  ") != std::string::npos) std::abort();
    if (Text::trim(out) != out) std::abort();
    for (const char* joinerOrSelector : {"\u200D", "\uFE0F"})
        if (out.find(joinerOrSelector) != std::string::npos) std::abort();
    if (Texts::stripEmoji(out) != out) std::abort();
    if (Text::isValidUTF8(text) && out.size() > text.size()) std::abort();
    return 0;
}

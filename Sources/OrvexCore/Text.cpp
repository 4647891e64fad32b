#include "Text.h"

#include <cstdint>
#include <optional>

namespace orvex::Text {
namespace {

bool isWhiteSpace(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

// Decodes one well-formed UTF-8 sequence at `pos`; nothing when it is malformed, overlong,
// a surrogate or beyond U+10FFFF.
std::optional<char32_t> decodeAt(std::string_view s, size_t pos, size_t& length) {
    auto byte = [&](size_t i) { return static_cast<uint8_t>(s[i]); };
    uint8_t lead = byte(pos);
    if (lead < 0x80) {
        length = 1;
        return lead;
    }
    size_t n;
    char32_t c;
    char32_t minimum;
    if ((lead & 0xE0) == 0xC0) {
        n = 2, c = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        n = 3, c = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        n = 4, c = lead & 0x07, minimum = 0x10000;
    } else {
        return std::nullopt;
    }
    if (pos + n > s.size()) return std::nullopt;
    for (size_t i = 1; i < n; ++i) {
        uint8_t b = byte(pos + i);
        if ((b & 0xC0) != 0x80) return std::nullopt;
        c = (c << 6) | (b & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
    length = n;
    return c;
}

} // namespace

std::string trim(std::string_view text) {
    size_t begin = 0;
    while (begin < text.size()) {
        size_t length = 0;
        auto c = decodeAt(text, begin, length);
        if (!c || !isWhiteSpace(*c)) break;
        begin += length;
    }
    size_t end = text.size();
    while (end > begin) {
        // Step back to the start of the last sequence: at most four bytes, continuation
        // bytes skipped.
        size_t start = end - 1;
        while (start > begin && end - start < 4 && (static_cast<uint8_t>(text[start]) & 0xC0) == 0x80)
            --start;
        size_t length = 0;
        auto c = decodeAt(text, start, length);
        if (!c || start + length != end || !isWhiteSpace(*c)) break;
        end = start;
    }
    return std::string(text.substr(begin, end - begin));
}

std::string trimSpacesAndTabs(std::string_view text) {
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string_view::npos) return {};
    size_t end = text.find_last_not_of(" \t");
    return std::string(text.substr(begin, end - begin + 1));
}

bool isValidUTF8(std::string_view bytes) {
    for (size_t pos = 0; pos < bytes.size();) {
        size_t length = 0;
        if (!decodeAt(bytes, pos, length)) return false;
        pos += length;
    }
    return true;
}

std::string utf8OrEmpty(std::string bytes) {
    if (!isValidUTF8(bytes)) return {};
    return bytes;
}

std::string asciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string asciiUpper(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

} // namespace orvex::Text

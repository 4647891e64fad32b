#include "Unicode.h"

#include <unicode/uchar.h>

#include <cstdint>

namespace orvex::Unicode {

std::u32string decodeUTF8(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    size_t pos = 0;
    while (pos < text.size()) {
        auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
        uint8_t lead = byte(pos);
        size_t length = 0;
        char32_t c = 0;
        char32_t minimum = 0;
        if (lead < 0x80) {
            length = 1, c = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2, c = lead & 0x1F, minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, c = lead & 0x0F, minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, c = lead & 0x07, minimum = 0x10000;
        }
        bool whole = length != 0 && pos + length <= text.size();
        for (size_t i = 1; whole && i < length; ++i) {
            whole = (byte(pos + i) & 0xC0) == 0x80;
            c = (c << 6) | (byte(pos + i) & 0x3F);
        }
        if (!whole || c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            out += U'\uFFFD';
            pos += 1;
            continue;
        }
        out += c;
        pos += length;
    }
    return out;
}

std::string encodeUTF8(std::u32string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char32_t c : text) {
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = U'\uFFFD';
        size_t length = lengthInUTF8(c);
        if (length == 1) {
            out += static_cast<char>(c);
            continue;
        }
        // The lead byte carries the length as that many high bits; each continuation byte
        // carries six bits under 10.
        static constexpr uint8_t leads[] = {0, 0, 0xC0, 0xE0, 0xF0};
        out += static_cast<char>(leads[length] | (c >> (6 * (length - 1))));
        for (size_t i = length - 1; i > 0; --i)
            out += static_cast<char>(0x80 | ((c >> (6 * (i - 1))) & 0x3F));
    }
    return out;
}

size_t lengthInUTF8(char32_t c) {
    if (c < 0x80) return 1;
    if (c < 0x800) return 2;
    if (c < 0x10000) return 3;
    return 4;
}

bool isNumeric(char32_t c) {
    return u_getIntPropertyValue(static_cast<UChar32>(c), UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

std::string lowerLatinAndCyrillic(std::string_view text) {
    std::string out(text);
    for (size_t i = 0; i < out.size(); ++i) {
        auto byte = static_cast<uint8_t>(out[i]);
        if (byte >= 'A' && byte <= 'Z') {
            out[i] = static_cast<char>(byte + ('a' - 'A'));
            continue;
        }
        if (i + 1 >= out.size() || (byte != 0xD0)) continue;
        // U+0400..U+043F are D0 80..D0 BF: the capitals U+0410..U+042F (D0 90..D0 AF) lower to
        // U+0430..U+044F, the first half as D0 B0..D0 BF and the second as D1 80..D1 8F; the
        // capitals U+0400..U+040F (D0 80..D0 8F, Ё among them) lower to U+0450..U+045F (D1 90..D1 9F).
        auto next = static_cast<uint8_t>(out[i + 1]);
        if (next >= 0x90 && next <= 0x9F) {
            out[i + 1] = static_cast<char>(next + 0x20);
        } else if (next >= 0xA0 && next <= 0xAF) {
            out[i] = static_cast<char>(0xD1);
            out[i + 1] = static_cast<char>(next - 0x20);
        } else if (next >= 0x80 && next <= 0x8F) {
            out[i] = static_cast<char>(0xD1);
            out[i + 1] = static_cast<char>(next + 0x10);
        }
        ++i;
    }
    return out;
}

} // namespace orvex::Unicode

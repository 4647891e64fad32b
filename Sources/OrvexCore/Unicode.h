#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// UTF-8 decoding and encoding, and the character classes that the version rules need beyond
// what Text offers.
namespace orvex::Unicode {

// The code points of UTF-8 text; each malformed byte becomes U+FFFD, so the result never
// has more code points than the text has bytes.
std::u32string decodeUTF8(std::string_view text);

// The UTF-8 bytes of code points; anything that is not a Unicode scalar value becomes U+FFFD.
// Text decoded by decodeUTF8 comes back byte for byte exactly when it was well formed.
std::string encodeUTF8(std::u32string_view text);

// The number of bytes a scalar value takes in UTF-8: 1 to 4.
size_t lengthInUTF8(char32_t c);

// Whether the code point carries a numeric value in the Unicode Character Database (any
// Numeric_Type, the Unihan numerals included): the digits 0 to 9 and every other script's
// digits, but also fractions, superscripts and Roman numerals. The answer comes from the
// system's ICU, so it follows the Unicode version that ICU carries.
bool isNumeric(char32_t c);

// The text with ASCII and Cyrillic capitals lowered (the languages of the system messages ORVEX
// looks into); everything else, malformed bytes included, stays as it is.
std::string lowerLatinAndCyrillic(std::string_view text);

} // namespace orvex::Unicode

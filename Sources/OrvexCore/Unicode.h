#pragma once

#include <string>
#include <string_view>

// Character classes that the version rules need beyond what Text offers.
namespace orvex::Unicode {

// The code points of UTF-8 text; each malformed byte becomes U+FFFD, so the result never
// has more code points than the text has bytes.
std::u32string decodeUTF8(std::string_view text);

// Whether the code point carries a numeric value in the Unicode Character Database (any
// Numeric_Type, the Unihan numerals included): the digits 0 to 9 and every other script's
// digits, but also fractions, superscripts and Roman numerals.
bool isNumeric(char32_t c);

// The text with ASCII and Cyrillic capitals lowered (the languages of the system messages ORVEX
// looks into); everything else, malformed bytes included, stays as it is.
std::string lowerLatinAndCyrillic(std::string_view text);

} // namespace orvex::Unicode

#pragma once

#include <string>
#include <string_view>

namespace orvex::Text {

// Removes Unicode White_Space (blanks, tabs, line ends, no-break and typographic spaces)
// from both ends. The text must be UTF-8; an invalid sequence stops the trimming there.
std::string trim(std::string_view text);

// Removes only ASCII blanks and tabs from both ends, as the command-output parsers need.
std::string trimSpacesAndTabs(std::string_view text);

bool isValidUTF8(std::string_view bytes);

// The bytes as text when they are valid UTF-8, else the empty text: the rule every reader
// of program output and files follows.
std::string utf8OrEmpty(std::string bytes);

// ASCII-only lower case; non-ASCII bytes (Cyrillic letters among them) stay as they are.
std::string asciiLower(std::string_view text);

// ASCII-only upper case, for the codes the provider hands out (letters and digits).
std::string asciiUpper(std::string_view text);

} // namespace orvex::Text

#include "Text.h"

#include "Unicode.h"

namespace orvex::Text {
namespace {

bool isWhiteSpace(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

} // namespace

std::string trim(std::string_view text) {
    // Only well-formed white space goes, so each removed code point takes exactly its encoded
    // length in the text; a malformed byte decodes to U+FFFD, which is not white space and so
    // ends the trimming there.
    std::u32string characters = Unicode::decodeUTF8(text);
    size_t first = 0;
    size_t begin = 0;
    for (; first < characters.size() && isWhiteSpace(characters[first]); ++first)
        begin += Unicode::lengthInUTF8(characters[first]);
    size_t end = text.size();
    for (size_t last = characters.size(); last > first && isWhiteSpace(characters[last - 1]); --last)
        end -= Unicode::lengthInUTF8(characters[last - 1]);
    return std::string(text.substr(begin, end - begin));
}

std::string trimSpacesAndTabs(std::string_view text) {
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string_view::npos) return {};
    size_t end = text.find_last_not_of(" \t");
    return std::string(text.substr(begin, end - begin + 1));
}

bool isValidUTF8(std::string_view bytes) {
    // Each malformed byte decodes to U+FFFD, three bytes when encoded again, so the round trip
    // gives the bytes back exactly when they were well formed.
    return Unicode::encodeUTF8(Unicode::decodeUTF8(bytes)) == bytes;
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

#include "PingStat.h"

#include "Text.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <string>

namespace orvex::PingStat {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

} // namespace

bool isProbeHost(std::string_view host) {
    std::string name = Text::asciiLower(Text::trimSpacesAndTabs(host));
    return !name.empty() && name != "localhost" && name != "127.0.0.1" && name != "::1";
}

// Matches `time[=<]\s*([0-9]+(?:\.[0-9]+)?)` left to right without overlaps. Written out by
// hand because a backtracking regex engine recurses once per character and a long run of
// digits in hostile output would exhaust the stack.
std::vector<int> parse(std::string_view text) {
    static constexpr std::string_view marker = "time";
    std::vector<int> samples;
    std::size_t at = 0;
    while ((at = text.find(marker, at)) != std::string_view::npos) {
        std::size_t i = at + marker.size();
        at += 1;
        if (i >= text.size() || (text[i] != '=' && text[i] != '<')) continue;
        ++i;
        while (i < text.size() && isBlank(text[i])) ++i;
        std::size_t start = i;
        while (i < text.size() && isDigit(text[i])) ++i;
        if (i == start) continue;
        if (i + 1 < text.size() && text[i] == '.' && isDigit(text[i + 1])) {
            i += 2;
            while (i < text.size() && isDigit(text[i])) ++i;
        }
        at = i;

        double value = 0;
        auto [end, error] = std::from_chars(text.data() + start, text.data() + i, value);
        if (error != std::errc() || end != text.data() + i) continue;
        double rounded = std::round(value);
        if (!(rounded <= INT_MAX)) continue;
        samples.push_back(static_cast<int>(rounded));
    }
    return samples;
}

int best(const std::vector<int>& samples) {
    int smallest = -1;
    for (int sample : samples)
        if (sample >= 0 && (smallest < 0 || sample < smallest)) smallest = sample;
    return smallest;
}

} // namespace orvex::PingStat

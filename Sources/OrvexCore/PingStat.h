#pragma once

#include <string_view>
#include <vector>

// Reading the echo times out of what the system's ping prints.
namespace orvex::PingStat {

// Echo requests sent per measurement.
inline constexpr int attempts = 3;

// False for an empty host and for the local machine's own names, which say nothing about a
// server.
bool isProbeHost(std::string_view host);

// One whole number of milliseconds per reply line ("time=23.456 ms", "time<1 ms"), halves
// rounded away from zero, in the order met. Times too large for an int are skipped.
std::vector<int> parse(std::string_view text);

// The smallest non-negative sample, or -1 when there is none.
int best(const std::vector<int>& samples);

} // namespace orvex::PingStat

// What the system's ping prints. Every reply time is a non-negative whole number and the
// best one is the smallest of them.
#include "PingStat.h"

#include <algorithm>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto samples = orvex::PingStat::parse(text);
    if (std::any_of(samples.begin(), samples.end(), [](int sample) { return sample < 0; })) std::abort();
    int best = orvex::PingStat::best(samples);
    if (samples.empty() ? best != -1 : best != *std::min_element(samples.begin(), samples.end()))
        std::abort();
    orvex::PingStat::isProbeHost(text);
    return 0;
}

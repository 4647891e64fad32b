#include "DescriptorLimit.h"

#include <algorithm>
#include <limits>
#include <sys/resource.h>

namespace orvex::DescriptorLimit {

namespace {

// macOS refuses a soft limit above its per-process ceiling (OPEN_MAX) even when the hard limit
// is unlimited.
constexpr rlim_t perProcessCeiling = 10240;

} // namespace

std::size_t raise() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
    for (rlim_t wanted : {limit.rlim_max, std::min(limit.rlim_max, perProcessCeiling)}) {
        if (wanted <= limit.rlim_cur) break;
        rlimit raised = limit;
        raised.rlim_cur = wanted;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) {
            limit = raised;
            break;
        }
    }
    if (limit.rlim_cur == RLIM_INFINITY) return std::numeric_limits<std::size_t>::max();
    return static_cast<std::size_t>(limit.rlim_cur);
}

} // namespace orvex::DescriptorLimit

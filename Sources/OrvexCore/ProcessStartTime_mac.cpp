#include "ProcessStartTime.h"

#include <sys/sysctl.h>

namespace orvex::ProcessStartTime {

std::optional<std::string> of(pid_t pid) {
    if (pid <= 0) return std::nullopt;
    int query[] = {CTL_KERN, KERN_PROC, KERN_PROC_PID, pid};
    kinfo_proc info{};
    size_t size = sizeof info;
    if (sysctl(query, 4, &info, &size, nullptr, 0) != 0 || size == 0) return std::nullopt;
    const timeval& started = info.kp_proc.p_starttime;
    return std::to_string(started.tv_sec) + "." + std::to_string(started.tv_usec);
}

} // namespace orvex::ProcessStartTime

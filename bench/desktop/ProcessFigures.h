#pragma once

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

// What the desktop benchmarks report about their own process.
namespace orvex::bench {

// User and system CPU time so far, in seconds.
inline double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Private_Clean + Private_Dirty of the whole process, in KiB.
inline long privateKiB() {
    std::ifstream rollup("/proc/self/smaps_rollup");
    std::string line;
    long total = 0;
    while (std::getline(rollup, line)) {
        std::istringstream fields(line);
        std::string key;
        long value = 0;
        fields >> key >> value;
        if (key == "Private_Clean:" || key == "Private_Dirty:") total += value;
    }
    return total;
}

// Seconds since the kernel started this process (exec and dynamic loading included).
inline double secondsSinceStart() {
    std::ifstream statFile("/proc/self/stat");
    std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    for (int i = 3; i < 22; ++i) fields >> field; // fields 3…21
    unsigned long long startTicks = 0;
    fields >> startTicks; // field 22: start time in clock ticks after boot
    double uptime = 0;
    std::ifstream("/proc/uptime") >> uptime;
    return uptime - static_cast<double>(startTicks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

} // namespace orvex::bench

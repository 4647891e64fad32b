#include <algorithm>
#include <benchmark/benchmark.h>
#include <cerrno>
#include <chrono>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

#include "Shell.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double microsecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

double median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

// The floor: starting /bin/true and collecting its exit, with nothing else around it.
double bareSpawnMicroseconds() {
    char program[] = "/bin/true";
    char* argv[] = {program, nullptr};
    auto start = Clock::now();
    pid_t pid;
    if (posix_spawn(&pid, program, nullptr, nullptr, argv, environ) == 0) {
        int status;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    return microsecondsSince(start);
}

// Shell::run of a program that ends at once, against the floor in alternation so both see the
// same machine load. What Shell adds (pipe, reader, exit wait, output decoding) is the
// overhead; checking for the exit every 20 ms instead would show up to 20000 µs here.
void ShellRunTrueOverBareSpawn(benchmark::State& state) {
    std::vector<double> floor;
    std::vector<double> shell;
    for (auto _ : state) {
        floor.push_back(bareSpawnMicroseconds());
        auto start = Clock::now();
        orvex::Shell::Result result = orvex::Shell::run("/bin/true", {}, 5);
        shell.push_back(microsecondsSince(start));
        benchmark::DoNotOptimize(result);
        if (!result.ok()) state.SkipWithError("/bin/true did not succeed");
    }
    if (floor.empty()) return;
    double floorMedian = median(floor);
    double shellMedian = median(shell);
    state.counters["floor_us"] = floorMedian;
    state.counters["shell_us"] = shellMedian;
    state.counters["overhead_us"] = shellMedian - floorMedian;
    state.counters["ratio"] = shellMedian / floorMedian;
}

} // namespace

BENCHMARK(ShellRunTrueOverBareSpawn)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(2.0);

// Per-call cost of reading a link and of writing the engine configuration. Each figure is also
// reported as `x_floor`: its time over the time of copying and scanning the same amount of
// text on the same machine in the same run, so regressions show independently of the host.
#include "LocalSocks.h"
#include "Vless.h"
#include "XrayConfig.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>

using namespace orvex;

namespace {

using Clock = std::chrono::steady_clock;

const std::string linkText = "vless://0f1e2d3c-aaaa-bbbb-cccc-112233445566@de1.example.net:443"
                             "?encryption=none&flow=xtls-rprx-vision&type=tcp&security=reality"
                             "&sni=www.example.com&fp=chrome&pbk=SbVKOEMjK0sIlbwg4akyBg5mL5KZwwB-ed4eEE7YnRc"
                             "&sid=6ba85179e30d4fc2&spx=%2F#%D0%93%D0%B5%D1%80%D0%BC%D0%B0%D0%BD%D0%B8%D1%8F";

// The least any reader of `text` does: copy it and look at every byte. Best of five rounds.
double floorNanoseconds(const std::string& text) {
    constexpr int calls = 20000;
    double best = 1e18;
    for (int round = 0; round < 5; ++round) {
        auto start = Clock::now();
        for (int i = 0; i < calls; ++i) {
            std::string copy = text;
            benchmark::DoNotOptimize(std::count(copy.begin(), copy.end(), '@'));
        }
        best = std::min(best, std::chrono::duration<double, std::nano>(Clock::now() - start).count() / calls);
    }
    return best;
}

void report(benchmark::State& state, Clock::time_point start, double floor) {
    double perCall = std::chrono::duration<double, std::nano>(Clock::now() - start).count() /
                     static_cast<double>(state.iterations());
    state.counters["x_floor"] = perCall / floor;
}

void vlessParse(benchmark::State& state) {
    double floor = floorNanoseconds(linkText);
    auto start = Clock::now();
    for (auto _ : state) benchmark::DoNotOptimize(Vless::parse(linkText));
    report(state, start, floor);
}

void xrayConfigBuild(benchmark::State& state) {
    auto link = Vless::parse(linkText);
    LocalSocks socks{10808, "0123456789abcdef", "00112233445566778899aabbccddeeff"};
    bool splitRu = state.range(0) != 0;
    double floor =
        floorNanoseconds(XrayConfig::build(link, splitRu, "192.168.1.20", "en0", socks, true, false));
    auto start = Clock::now();
    for (auto _ : state)
        benchmark::DoNotOptimize(XrayConfig::build(link, splitRu, "192.168.1.20", "en0", socks, true, false));
    report(state, start, floor);
}

} // namespace

BENCHMARK(vlessParse);
BENCHMARK(xrayConfigBuild)->ArgName("splitRu")->Arg(0)->Arg(1);

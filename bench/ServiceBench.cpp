// The running service (the real `orvex -service`, under a scratch ORVEX_ROOT with the fake
// engines and fake network tools of tests/fixtures): the status round trip alone and while 200
// clients poll at once, connect and disconnect wall time, and resident memory when idle. Each
// figure stands beside a floor measured in the same run.

#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "ChildProcess.h"
#include "DaemonClient.h"
#include "FileDescriptor.h"
#include "IPCProtocol.h"
#include "Paths.h"
#include "Shell.h"
#include "SocketPlatform.h"
#include "UnixSocket.h"

using namespace orvex;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

const fs::path sourceRoot = fs::path(__FILE__).parent_path().parent_path();

double micros(Clock::duration duration) {
    return std::chrono::duration<double, std::micro>(duration).count();
}

double percentile(std::vector<double> samples, double fraction) {
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    auto index = static_cast<size_t>(fraction * static_cast<double>(samples.size() - 1) + 0.5);
    return samples[std::min(index, samples.size() - 1)];
}

void write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

// One "Name:   1234 kB" field of /proc/<pid>/status.
size_t statusKiB(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with(field + ":")) return std::stoul(line.substr(field.size() + 1));
    return 0;
}

size_t lineCount(const fs::path& path) {
    std::ifstream file(path);
    size_t count = 0;
    for (std::string line; std::getline(file, line);) ++count;
    return count;
}

// The scratch machine and the service on it, shared by every benchmark of the run.
class Machine {
public:
    static Machine& shared() {
        static Machine machine;
        return machine;
    }

    const fs::path& root() const { return root_; }
    pid_t pid() const { return service_->pid(); }
    size_t toolCalls() const { return lineCount(root_ / "fake-system/calls.log"); }

private:
    Machine() {
        fs::path orvex = fs::path(Paths::executable()).parent_path().parent_path() / "Sources/orvex/orvex";
        if (!fs::exists(orvex))
            throw std::runtime_error("build the orvex target first: " + orvex.string() + " is missing");
        std::string pattern = (fs::temp_directory_path() / "orvex-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        root_ = pattern;
        ::setenv("ORVEX_ROOT", root_.c_str(), 1);
        ::setenv("HOME", (root_ / "home").c_str(), 1);
        // The fake tools laid out below are the macOS ones.
        ::setenv("ORVEX_PLATFORM", "macos", 1);

        fs::path fixtures = sourceRoot / "tests/fixtures";
        for (auto [tool, place] :
             {std::pair{"route", "sbin"}, {"ifconfig", "sbin"}, {"networksetup", "usr/sbin"}}) {
            fs::create_directories(root_ / place);
            fs::create_symlink(fixtures / tool, root_ / place / tool);
        }
        write(root_ / "fake-system/interfaces.json",
              R"([{"name":"lo0","up":true,"inet":"127.0.0.1","dest":""},)"
              R"({"name":"en0","up":true,"inet":"192.168.1.10","dest":""},)"
              R"({"name":"utun4","up":true,"inet":"","dest":""}])");
        write(root_ / "fake-system/routes.json",
              R"([{"family":"inet","dest":"default","host":false,"gateway":"192.168.1.1",)"
              R"("interface":"en0","scope":"","reject":false}])");
        // The service sees the real machine's interfaces, of which only loopback is certain.
        write(root_ / "fake-system/services.json",
              R"([{"name":"Wi-Fi","port":"Wi-Fi","device":"lo","enabled":true}])");

        fs::path contents = root_ / "Applications/ORVEX.app/Contents";
        fs::create_directories(contents / "MacOS");
        fs::copy_file(orvex, contents / "MacOS/ORVEX");
        fs::path engine = contents / "Resources/engine";
        fs::create_directories(engine);
        fs::create_symlink(fixtures / "xray", engine / "xray");
        fs::create_symlink(fixtures / "tun2socks", engine / "tun2socks");
        write(engine / "geoip.dat", "fake\n");
        write(engine / "geosite.dat", "fake\n");
        fs::create_directories(root_ / "var/run");

        ChildProcess::Options options;
        options.output = ChildProcess::Redirect::toFile((root_ / "service.out").string());
        options.error = options.output;
        service_.emplace(ChildProcess::spawn((contents / "MacOS/ORVEX").string(), {"-service"}, options));
        auto deadline = Clock::now() + std::chrono::seconds(30);
        while (!DaemonClient::isRunning()) {
            if (Clock::now() > deadline || !service_->running())
                throw std::runtime_error("the service did not start");
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ~Machine() {
        service_->stop(std::chrono::seconds(5));
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    fs::path root_;
    std::optional<ChildProcess> service_;
};

// The floor of one exchange: a server thread that answers a fixed line, with no JSON and no
// tunnel, over the same kind of socket.
class BareServer {
public:
    BareServer() : path_((Machine::shared().root() / "bare.sock").string()) {
        listening_ = UnixSocket::listen(path_);
        thread_ = std::thread([this] {
            for (;;) {
                FileDescriptor connection = UnixSocket::accept(listening_.get());
                if (!connection || stopping_) return;
                if (UnixSocket::readUntilNewline(connection.get()).empty()) continue;
                try {
                    UnixSocket::writeAll(connection.get(), R"({"ok":true})"
                                                           "\n");
                } catch (const UnixSocket::SocketError&) {
                }
            }
        });
    }
    ~BareServer() {
        stopping_ = true;
        ::shutdown(listening_.get(), SHUT_RDWR);
        thread_.join();
    }
    void exchange() const { UnixSocket::request(path_, "status", 5); }

private:
    std::string path_;
    FileDescriptor listening_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

void reportLatencies(benchmark::State& state, const std::vector<double>& samples,
                     const std::vector<double>& floor) {
    state.counters["median_us"] = percentile(samples, 0.5);
    state.counters["p99_us"] = percentile(samples, 0.99);
    state.counters["floor_median_us"] = percentile(floor, 0.5);
    state.counters["ratio_median"] = percentile(samples, 0.5) / percentile(floor, 0.5);
    state.counters["ratio_p99"] = percentile(samples, 0.99) / percentile(floor, 0.99);
}

void ServiceStatusRoundTrip(benchmark::State& state) {
    Machine::shared();
    BareServer bare;
    std::vector<double> samples, floor;
    for (auto _ : state) {
        auto start = Clock::now();
        bare.exchange();
        auto middle = Clock::now();
        benchmark::DoNotOptimize(DaemonClient::status());
        auto end = Clock::now();
        floor.push_back(micros(middle - start));
        samples.push_back(micros(end - middle));
    }
    reportLatencies(state, samples, floor);
}

// 200 other clients poll the service as fast as they can while this one measures.
void ServiceStatusUnder200Pollers(benchmark::State& state) {
    Machine::shared();
    BareServer bare;
    std::atomic<bool> stop{false};
    std::atomic<long> polls{0};
    std::vector<std::thread> pollers;
    for (int i = 0; i < 200; ++i)
        pollers.emplace_back([&] {
            while (!stop) {
                try {
                    DaemonClient::status();
                    ++polls;
                } catch (const std::exception&) {
                }
            }
        });
    std::vector<double> samples, floor;
    auto began = Clock::now();
    for (auto _ : state) {
        auto start = Clock::now();
        bare.exchange();
        auto middle = Clock::now();
        benchmark::DoNotOptimize(DaemonClient::status());
        auto end = Clock::now();
        floor.push_back(micros(middle - start));
        samples.push_back(micros(end - middle));
    }
    double seconds = std::chrono::duration<double>(Clock::now() - began).count();
    stop = true;
    for (auto& poller : pollers) poller.join();
    reportLatencies(state, samples, floor);
    state.counters["other_polls_per_s"] = static_cast<double>(polls) / seconds;
}

// The floor of a cycle is the fake network tools it runs plus the starts of the two fake
// engines (programs of the same kind as the tools), timed here one by one; everything above
// that is the service's own, including its waits for the engine's port and the bridge's
// interface.
void ServiceConnectDisconnect(benchmark::State& state) {
    Machine& machine = Machine::shared();
    std::string route = (machine.root() / "sbin/route").string();
    auto toolStart = Clock::now();
    constexpr int toolRuns = 10;
    for (int i = 0; i < toolRuns; ++i) Shell::run(route, {"-n", "get", "default"}, 15);
    double toolMs = micros(Clock::now() - toolStart) / 1000 / toolRuns;
    // Each timed run above added a call to the log too.
    size_t before = machine.toolCalls();

    std::vector<double> connects, disconnects;
    const std::string link = "vless://b831381d-6324-4d53-ad4f-8cda48b30811@203.0.113.9:443?type=tcp#Bench";
    for (auto _ : state) {
        auto start = Clock::now();
        auto status = DaemonClient::connect(link, "Bench");
        auto middle = Clock::now();
        DaemonClient::disconnect();
        auto end = Clock::now();
        if (status.state != TunnelState::connected) {
            state.SkipWithError(("connect failed: " + status.message).c_str());
            return;
        }
        connects.push_back(micros(middle - start) / 1000);
        disconnects.push_back(micros(end - middle) / 1000);
    }
    double callsPerCycle =
        static_cast<double>(machine.toolCalls() - before) / static_cast<double>(state.iterations());
    double connectMs = percentile(connects, 0.5);
    double disconnectMs = percentile(disconnects, 0.5);
    state.counters["connect_ms"] = connectMs;
    state.counters["disconnect_ms"] = disconnectMs;
    state.counters["tool_call_ms"] = toolMs;
    state.counters["tool_calls_per_cycle"] = callsPerCycle;
    // Tool time is split between the two halves by where the calls happen; the whole cycle is
    // compared with its floor so that the split does not matter.
    double floorMs = (callsPerCycle + 2) * toolMs;
    state.counters["cycle_floor_ms"] = floorMs;
    state.counters["cycle_ratio"] = (connectMs + disconnectMs) / floorMs;
}

// Resident memory of the service before anything has been asked of it but pings, against the
// 8 MiB goal. Registered first, so no connect has run yet.
void ServiceIdleMemory(benchmark::State& state) {
    Machine& machine = Machine::shared();
    for (auto _ : state) {
        // Idle: nothing asked for a while.
        std::this_thread::sleep_for(std::chrono::seconds(1));
        state.counters["rss_kib"] = static_cast<double>(statusKiB(machine.pid(), "VmRSS"));
        // The service's own memory; the rest of the figure is shared library pages.
        state.counters["anon_kib"] = static_cast<double>(statusKiB(machine.pid(), "RssAnon"));
    }
    state.counters["goal_kib"] = 8 * 1024;
    state.counters["ratio_to_goal"] = state.counters["rss_kib"] / (8 * 1024);
}

} // namespace

BENCHMARK(ServiceIdleMemory)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(ServiceStatusRoundTrip)->Iterations(2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(ServiceStatusUnder200Pollers)->Iterations(500)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(ServiceConnectDisconnect)->Iterations(10)->Unit(benchmark::kMillisecond)->UseRealTime();

// The application asks the service for its status every second, so one status() exchange is
// the service protocol's hottest path. It is measured against the bare floor of the same
// exchange (connect, one request line, one response line, close) of fixed bytes over a Unix
// socket without any JSON, both against the same minimal in-process server in one run.

#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "DaemonClient.h"
#include "FileDescriptor.h"
#include "IPCProtocol.h"
#include "Paths.h"
#include "SocketPlatform.h"
#include "UnixSocket.h"

using namespace orvex;

namespace {

using Clock = std::chrono::steady_clock;

// The floor: fixed bytes out, bytes in until the line feed, nothing decoded.
void bareExchange(const std::string& path, const std::string& requestLine) {
    FileDescriptor fd = UnixSocket::connect(path);
    if (::send(fd.get(), requestLine.data(), requestLine.size(), SocketPlatform::sendFlags()) !=
        static_cast<ssize_t>(requestLine.size()))
        throw std::runtime_error("bench: short send");
    char buffer[8192];
    for (;;) {
        ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
        if (count <= 0) throw std::runtime_error("bench: no answer");
        if (std::memchr(buffer, '\n', static_cast<std::size_t>(count))) break;
    }
}

// The service socket relocated into a temporary folder, answered by one thread that replies
// with a fixed status line to whatever it is sent.
class StatusServer {
public:
    StatusServer() {
        std::string pattern = (std::filesystem::temp_directory_path() / "orvex-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("bench: mkdtemp failed");
        root_ = pattern;
        ::setenv("ORVEX_ROOT", root_.c_str(), 1);
        std::filesystem::create_directories(root_ + "/var/run");
        path_ = Paths::socket();

        IPCResponse response;
        response.ok = true;
        response.status = TunnelStatus::neutral();
        response.status->state = TunnelState::connected;
        response.status->serverName = "Нидерланды";
        response.status->message = "Подключено";
        response.status->exitIP = "203.0.113.7";
        answer_ = response.encode() + "\n";
        IPCRequest request;
        request.method = IPCMethod::status;
        requestLine_ = request.encode() + "\n";

        listening_ = UnixSocket::listen(path_);
        thread_ = std::thread([this] { serve(); });
    }
    ~StatusServer() {
        stopping_ = true;
        UnixSocket::connect(path_);
        thread_.join();
        ::unsetenv("ORVEX_ROOT");
        std::filesystem::remove_all(root_);
    }

    const std::string& path() const { return path_; }
    const std::string& requestLine() const { return requestLine_; }

private:
    void serve() {
        for (;;) {
            FileDescriptor connection = UnixSocket::accept(listening_.get());
            if (!connection || stopping_) return;
            if (UnixSocket::readUntilNewline(connection.get()).empty()) continue;
            try {
                UnixSocket::writeAll(connection.get(), answer_);
            } catch (const UnixSocket::SocketError&) {
            }
        }
    }

    std::string root_;
    std::string path_;
    std::string answer_;
    std::string requestLine_;
    FileDescriptor listening_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

double secondsOf(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

// Alternates the two exchanges so that both see the same machine load; the figure is the
// ratio of their mean times, and the repetitions' median is the one to read.
void DaemonClientStatusVsBareExchange(benchmark::State& state) {
    StatusServer server;
    Clock::duration client{}, bare{};
    for (auto _ : state) {
        auto start = Clock::now();
        bareExchange(server.path(), server.requestLine());
        auto middle = Clock::now();
        TunnelStatus status = DaemonClient::status();
        auto end = Clock::now();
        benchmark::DoNotOptimize(status);
        bare += middle - start;
        client += end - middle;
    }
    double iterations = static_cast<double>(state.iterations());
    state.counters["status_us"] = secondsOf(client) / iterations * 1e6;
    state.counters["bare_us"] = secondsOf(bare) / iterations * 1e6;
    state.counters["ratio"] = secondsOf(client) / secondsOf(bare);
}

} // namespace

BENCHMARK(DaemonClientStatusVsBareExchange)->Repetitions(9)->ReportAggregatesOnly(true);

#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "ChildProcess.h"
#include "FakeEngine.h"
#include "FakeSystem.h"
#include "TestSupport.h"

namespace orvex::test {

// A scratch Mac for the real `orvex -service`: a temporary ORVEX_ROOT (and HOME, so DaemonClient
// reaches this service) with the fake network tools, logging on, and an application bundle with
// the executable and the fake engines of tests/fixtures where the service looks for them.
class ServiceMachine {
public:
    ServiceMachine();
    ~ServiceMachine();
    ServiceMachine(const ServiceMachine&) = delete;
    ServiceMachine& operator=(const ServiceMachine&) = delete;

    const std::string& root() const { return dir_.path(); }
    FakeSystem& system() { return system_; }
    // The fakes in the bundle's engine folder; a test may put another program in their place.
    FakeEngine& engine() { return engine_; }
    std::string stateDir() const; // the service's log folder, also home of its setting files
    std::string socketPath() const;

    // Starts the service and waits until it answers a ping, with `descriptorLimit` (when above
    // zero) as its RLIMIT_NOFILE.
    void start(int descriptorLimit = 0);
    // Starts another instance without stopping the first.
    ChildProcess startAnother() const;
    // Sends `signal` and waits for the service to end; its exit status.
    int stop(int signal = 15);
    bool running() const { return service_ && service_->running(); }
    pid_t pid() const { return service_ ? service_->pid() : -1; }

    std::string log() const;
    bool waitForLog(const std::string& text,
                    std::chrono::milliseconds limit = std::chrono::seconds(10)) const;
    size_t logCount(const std::string& text) const;

    // Every process but the service whose command line mentions this machine's folder: the
    // engines the service started and anything they left behind.
    std::vector<pid_t> strayProcesses() const;
    size_t serviceDescriptors() const;

    // A link to a server whose address is an IPv4 literal, so no name lookup is involved.
    static std::string link(const std::string& address = "203.0.113.9", int port = 443);

private:
    TempDir dir_;
    ScopedEnv root_;
    ScopedEnv home_;
    FakeSystem system_;
    FakeEngine engine_;
    std::optional<ChildProcess> service_;
};

} // namespace orvex::test

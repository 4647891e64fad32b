#include "ServiceMachine.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <unistd.h>

#include "DaemonClient.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace orvex::test {

namespace {

std::string bundle(const std::string& root) { return root + "/Applications/ORVEX.app/Contents"; }

// A hard link when the build and the temporary folder share a file system (the service then
// still runs from inside the bundle, which is what it looks at), a copy otherwise.
void placeExecutable(const std::string& to) {
    std::error_code error;
    fs::create_hard_link(ORVEX_EXECUTABLE, to, error);
    if (error) fs::copy_file(ORVEX_EXECUTABLE, to);
}

ChildProcess spawnService(const std::string& root, int descriptorLimit) {
    ChildProcess::Options options;
    options.output = ChildProcess::Redirect::toFile(root + "/service.out");
    options.error = options.output;
    std::string program = bundle(root) + "/MacOS/ORVEX";
    if (descriptorLimit <= 0) return ChildProcess::spawn(program, {"-service"}, options);
    // The shell becomes the service, which keeps the limit and the process id.
    return ChildProcess::spawn(
        "/bin/sh",
        {"-c", "ulimit -n " + std::to_string(descriptorLimit) + " && exec \"$0\" -service", program},
        options);
}

} // namespace

ServiceMachine::ServiceMachine()
    : root_("ORVEX_ROOT", dir_.path()), home_("HOME", dir_.path() + "/home"), system_(root()),
      engine_(root(), bundle(root()) + "/Resources/engine") {
    // The service reads which interfaces are up from the real machine, where only the
    // loopback interface is sure to be; both services with DNS therefore sit on it.
    auto service = [](const char* name, const char* device) {
        return json{{"name", name}, {"port", name}, {"device", device}, {"enabled", true}};
    };
    system_.setServices(json::array({service("Wi-Fi", "lo"), service("USB 10/100/1000 LAN", "lo"),
                                     service("Thunderbolt Bridge", "en1")}));
    // No tunnel interface until the bridge makes one.
    json interfaces = system_.interfaces();
    interfaces.erase(std::remove_if(interfaces.begin(), interfaces.end(),
                                    [](const json& iface) { return iface.at("name") == "utun4"; }),
                     interfaces.end());
    system_.setInterfaces(interfaces);

    fs::create_directories(root() + "/home");
    fs::create_directories(root() + "/var/run");
    fs::create_directories(bundle(root()) + "/MacOS");
    placeExecutable(bundle(root()) + "/MacOS/ORVEX");
    writeFile(stateDir() + "/logging.on", "");
}

ServiceMachine::~ServiceMachine() {
    if (running()) stop(SIGKILL);
    // Whatever the service started and a failed test left running must not outlive the test.
    for (pid_t pid : strayProcesses()) ::kill(pid, SIGKILL);
}

std::string ServiceMachine::stateDir() const { return root() + "/Library/Logs/ORVEX"; }
std::string ServiceMachine::socketPath() const { return root() + "/var/run/orvex-vpn.sock"; }

ChildProcess ServiceMachine::startAnother() const { return spawnService(root(), 0); }

void ServiceMachine::start(int descriptorLimit) {
    service_.emplace(spawnService(root(), descriptorLimit));
    bool answering = waitUntil([&] { return DaemonClient::isRunning() || !service_->running(); },
                               std::chrono::seconds(30));
    if (!answering || !service_->running())
        throw std::runtime_error("the service did not start:\n" + readFile(root() + "/service.out") + log());
}

int ServiceMachine::stop(int signal) {
    ::kill(service_->pid(), signal);
    if (!service_->waitFor(std::chrono::seconds(30))) throw std::runtime_error("the service did not stop");
    int status = service_->exitCode().value_or(-1);
    service_.reset();
    return status;
}

std::string ServiceMachine::log() const { return readFile(stateDir() + "/service.log"); }

bool ServiceMachine::waitForLog(const std::string& text, std::chrono::milliseconds limit) const {
    return waitUntil([&] { return log().find(text) != std::string::npos; }, limit);
}

size_t ServiceMachine::logCount(const std::string& text) const {
    std::string all = log();
    size_t count = 0;
    for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + text.size())) ++count;
    return count;
}

std::vector<pid_t> ServiceMachine::strayProcesses() const {
    std::vector<pid_t> found;
    pid_t service = pid();
    for (const auto& entry : fs::directory_iterator("/proc")) {
        std::string name = entry.path().filename();
        if (!std::ranges::all_of(name, ::isdigit)) continue;
        pid_t pid = std::stoi(name);
        if (pid != service && pid != ::getpid() && FakeEngine::alive(pid) &&
            readFile("/proc/" + name + "/cmdline").find(root()) != std::string::npos)
            found.push_back(pid);
    }
    return found;
}

size_t ServiceMachine::serviceDescriptors() const {
    fs::directory_iterator folder("/proc/" + std::to_string(pid()) + "/fd");
    return static_cast<size_t>(std::distance(fs::begin(folder), fs::end(folder)));
}

std::string ServiceMachine::link(const std::string& address, int port) {
    return "vless://b831381d-6324-4d53-ad4f-8cda48b30811@" + address + ":" + std::to_string(port) +
           "?encryption=none&type=tcp#Test";
}

} // namespace orvex::test

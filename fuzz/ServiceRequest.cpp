// Any local user may send the service a request line. Whatever the bytes, the handler must
// answer with one well-formed line (nothing only for an empty request) and never take the
// service down. The tunnel behind it is real, but its engine folder is empty, its system tools
// always fail and its exit-address service is a closed loopback port, so no request reaches
// beyond the scratch folder.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "DaemonDispatch.h"
#include "Log.h"
#include "Paths.h"
#include "Tunnel.h"

using namespace orvex;

namespace {

struct Service {
    std::unique_ptr<Log> log;
    std::shared_ptr<Tunnel> tunnel;

    Service() {
        std::string pattern = (std::filesystem::temp_directory_path() / "orvex-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        ::setenv("ORVEX_ROOT", pattern.c_str(), 1);
        ::setenv("HOME", (pattern + "/home").c_str(), 1);
        ::setenv("ORVEX_EXIT_IP_URL", "http://127.0.0.1:1/", 1);
        ::setenv("ORVEX_SPEEDTEST_URL", "http://127.0.0.1:1/", 1);
        std::string engine = pattern + "/engine";
        std::filesystem::create_directories(engine);

        log = std::make_unique<Log>(Paths::daemonLogDir(), "service");
        auto environment = Tunnel::Environment::production();
        environment.runner = [](const std::string&, const std::vector<std::string>&, double) {
            return Shell::Result{1, "fake: refused"};
        };
        environment.upInterfaces = [] { return std::set<std::string>{}; };
        environment.engineDir = [engine] { return engine; };
        tunnel = std::make_shared<Tunnel>(*log, environment);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Service service;
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    // The transport hands the handler everything before the first line feed.
    std::string_view line = bytes.substr(0, bytes.find('\n'));
    auto response = Daemon::answer(line, *service.tunnel, *service.log);
    if (line.empty() != !response.has_value()) std::abort();
    if (!response) return 0;
    if (!response->ok && !response->error) std::abort();
    std::string encoded = response->encode();
    if (encoded.find('\n') != std::string::npos) std::abort();
    if (!(IPCResponse::decode(encoded) == *response)) std::abort();
    return 0;
}

// The one ORVEX executable; the first argument chooses its role.
#include <cstdio>
#include <exception>
#include <string>

#include "Daemon.h"
#include "RunApp.h"
#include "ServiceInstaller.h"
#include "Version.h"

namespace {

// The installer roles run once, as root, under the administrator prompt; the application shows
// the one line they leave on standard error.
int runInstaller(void (*step)()) {
    try {
        step();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return orvex::runApp(argc, argv);
    const std::string role = argv[1];
    if (role == "-service") return orvex::Daemon::run();
    if (role == "-install-service") return runInstaller(orvex::ServiceInstaller::install);
    if (role == "-uninstall-service") return runInstaller(orvex::ServiceInstaller::uninstall);
    if (role == "-version") {
        std::printf("%s\n", orvex::Version::current().c_str());
        return 0;
    }
    return orvex::runApp(argc, argv);
}

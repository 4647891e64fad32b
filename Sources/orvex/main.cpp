// The one ORVEX executable; the first argument chooses its role.
#include <cstdio>
#include <string>

#include "Daemon.h"
#include "Version.h"

namespace {

// Roles whose owners have not landed yet must never pass for a success.
int roleNotBuilt() {
    std::fputs("роль ещё не собрана\n", stderr);
    return 2;
}

int runApp() { return roleNotBuilt(); }

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return runApp();
    const std::string role = argv[1];
    if (role == "-service") return orvex::Daemon::run();
    if (role == "-install-service") return roleNotBuilt();
    if (role == "-uninstall-service") return roleNotBuilt();
    if (role == "-version") {
        std::printf("%s\n", orvex::Version::current().c_str());
        return 0;
    }
    return runApp();
}

#include "Paths.h"

#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <system_error>
#include <unistd.h>

#include "Platform.h"
#include "ProgramPath.h"

namespace fs = std::filesystem;

namespace orvex::Paths {

std::string relocate(const std::string& absolute) {
    const char* root = std::getenv("ORVEX_ROOT");
    if (root == nullptr || root[0] != '/') return absolute;
    std::string base(root);
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    if (base == "/") return absolute;
    return base + absolute;
}

std::string home() {
    const char* value = std::getenv("HOME");
    if (value != nullptr && value[0] != '\0') return value;
    if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr)
        return entry->pw_dir;
    return "/";
}

std::string socket() { return Platform::current().socket; }
std::string daemonLabel() { return "net.orvex.vpn"; }
std::string daemonPlist() { return Platform::current().serviceJob; }
std::string daemonLogDir() { return Platform::current().serviceLogs; }
std::string daemonStateDir() { return Platform::current().serviceState; }
std::string appLogDir() { return Platform::current().appLogs; }
std::string appSupportDir() { return Platform::current().appData; }
std::string daemonHome() { return Platform::current().serviceHome; }
std::string daemonBinary() { return daemonHome() + "/orvexd"; }
std::string generatedConfig() { return Platform::current().generatedConfig; }
std::string sharedDir() { return Platform::current().widgetFolder; }
mode_t sharedDirMode() { return Platform::current().widgetFolderMode; }
std::string applicationBundle() { return relocate("/Applications/ORVEX.app"); }

std::string engineDir(const std::string& programPath) {
    std::error_code error;
    fs::path program = fs::absolute(programPath, error);
    if (error) program = programPath;
    fs::path resolved = fs::weakly_canonical(program, error);
    if (!error) program = resolved;
    fs::path folder = program.parent_path();
    fs::path resources = folder.parent_path() / "Resources";
    if (fs::is_directory(resources, error)) return (resources / "engine").string();
    return (folder / "engine").string();
}

std::string engineDir() { return engineDir(executable()); }
std::string xray() { return engineDir() + "/xray"; }
std::string tun2socks() { return engineDir() + "/tun2socks"; }
std::string geoip() { return engineDir() + "/geoip.dat"; }
std::string geosite() { return engineDir() + "/geosite.dat"; }

std::string executable() { return ProgramPath::current(); }

std::string ownBundle() {
    std::filesystem::path bundle =
        std::filesystem::path(executable()).parent_path().parent_path().parent_path();
    return bundle.extension() == ".app" ? bundle.string() : std::string();
}

void ensureDir(const std::string& path) {
    std::error_code ignored;
    fs::create_directories(path, ignored);
}

} // namespace orvex::Paths

#include "Autostart.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "AtomicFile.h"
#include "Paths.h"
#include "Shell.h"

namespace orvex::Autostart::LaunchAgent {

namespace fs = std::filesystem;

namespace {

constexpr double launchctlLimit = 15;

std::string agentsDir() { return Paths::home() + "/Library/LaunchAgents"; }

void launchctl(const std::string& verb) {
    Shell::run(Paths::relocate("/bin/launchctl"), {verb, "-w", entryPath()}, launchctlLimit);
}

std::optional<std::string> enable() {
    std::string bundle = Paths::ownBundle();
    if (bundle.empty()) return "Автозапуск доступен только для установленного приложения";
    Paths::ensureDir(agentsDir());
    if (!AtomicFile::write(entryPath(), agentPlist(bundle)))
        return "Не удалось включить автозапуск: " + std::generic_category().message(errno);
    launchctl("load");
    return std::nullopt;
}

std::optional<std::string> disable() {
    launchctl("unload");
    std::error_code error;
    fs::remove(entryPath(), error);
    if (error) return "Не удалось выключить автозапуск: " + error.message();
    return std::nullopt;
}

} // namespace

std::string entryPath() { return agentsDir() + "/net.orvex.app.plist"; }

bool isEnabled() {
    std::error_code ignored;
    return fs::exists(entryPath(), ignored);
}

std::optional<std::string> setEnabled(bool on) { return on ? enable() : disable(); }

} // namespace orvex::Autostart::LaunchAgent

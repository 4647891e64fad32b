#include "Platform.h"

#include <cstdlib>
#include <string_view>

#include "Paths.h"

namespace orvex {
namespace {

// The build's own platform answers when the variable is unset or names neither.
bool macosChosen() {
    const char* chosen = std::getenv("ORVEX_PLATFORM");
    std::string_view name = chosen != nullptr ? chosen : "";
    return (name == "macos" || name == "linux" ? name : ORVEX_BUILD_PLATFORM) == "macos";
}

// An XDG base folder: the variable when it holds an absolute path (the base-directory rules
// ignore relative ones), else its default under the home folder.
std::string xdgFolder(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    if (value != nullptr && value[0] == '/') return value;
    return Paths::home() + fallback;
}

Platform macos() {
    Platform platform;
    std::string home = Paths::home();
    platform.socket = Paths::relocate("/var/run/orvex-vpn.sock");
    platform.serviceHome = Paths::relocate("/Library/Application Support/ORVEX");
    platform.serviceLogs = Paths::relocate("/Library/Logs/ORVEX");
    platform.serviceState = platform.serviceLogs;
    platform.generatedConfig = platform.serviceHome + "/config.gen.json";
    platform.serviceJob = Paths::relocate("/Library/LaunchDaemons/net.orvex.vpn.plist");
    platform.appLogs = home + "/Library/Logs/ORVEX";
    platform.appData = home + "/Library/Application Support/ORVEX";
    platform.widgetFolder = Paths::relocate("/Users/Shared/ORVEX");
    platform.widgetFolderMode = 0777;
    platform.pingProgram = Paths::relocate("/sbin/ping");
    platform.serviceStatusCommand = "sudo launchctl print system/net.orvex.vpn";
    platform.updateManifest = ORVEX_UPDATE_MANIFEST_MACOS;
    return platform;
}

Platform linuxDesktop() {
    Platform platform;
    platform.serviceManager = Platform::ServiceManager::systemd;
    platform.elevation = Platform::ElevationTool::pkexec;
    platform.ping = Platform::PingTool::iputils;
    platform.networkChanger = Platform::NetworkChanger::nftables;
    platform.updateInstall = Platform::UpdateInstall::packageManager;
    platform.desktop = Platform::Desktop::freedesktop;

    std::string state = xdgFolder("XDG_STATE_HOME", "/.local/state") + "/orvex";
    platform.socket = Paths::relocate("/run/orvex-vpn.sock");
    platform.serviceHome = Paths::relocate("/opt/orvex");
    platform.serviceState = Paths::relocate("/var/lib/orvex");
    platform.serviceLogs = Paths::relocate("/var/log/orvex");
    platform.generatedConfig = platform.serviceState + "/config.gen.json";
    platform.serviceJob = Paths::relocate("/etc/systemd/system/orvexd.service");
    platform.appLogs = state + "/log";
    platform.appData = xdgFolder("XDG_DATA_HOME", "/.local/share") + "/orvex";
    // The widget runs as the same user here, so nobody else needs to reach its files.
    platform.widgetFolder = state + "/widget";
    platform.widgetFolderMode = 0700;
    platform.pingProgram = Paths::relocate("/usr/bin/ping");
    platform.systemEngine = Paths::relocate("/usr/bin/v2ray");
    platform.serviceStatusCommand = "sudo systemctl status orvexd";
    platform.updateManifest = ORVEX_UPDATE_MANIFEST_LINUX;
    return platform;
}

} // namespace

Platform Platform::current() { return macosChosen() ? macos() : linuxDesktop(); }

} // namespace orvex

#pragma once

#include <string>
#include <sys/types.h>

namespace orvex {

// The operating system whose conventions ORVEX follows: where its files lie and which system
// programs install the service, ask for administrator rights, ping, change the network and
// install updates. Chosen once per call from ORVEX_PLATFORM ("macos" or "linux"), defaulting
// to the platform of the build, so the macOS behaviour runs here against the fake macOS
// tools. Everything else asks this; nothing else tests the platform.
struct Platform {
    enum class ServiceManager { launchd, systemd };
    enum class ElevationTool { osascript, pkexec };
    enum class PingTool { bsd, iputils };
    enum class NetworkChanger { routeTools, nftables };
    enum class UpdateInstall { installerPackage, packageManager };
    // Start at login and the link handler: a launchd agent and the bundle's own URL types, or
    // XDG autostart and desktop entries.
    enum class Desktop { aqua, freedesktop };

    ServiceManager serviceManager = ServiceManager::launchd;
    ElevationTool elevation = ElevationTool::osascript;
    PingTool ping = PingTool::bsd;
    NetworkChanger networkChanger = NetworkChanger::routeTools;
    UpdateInstall updateInstall = UpdateInstall::installerPackage;
    Desktop desktop = Desktop::aqua;

    // Absolute locations, system ones already taken under ORVEX_ROOT, user ones under HOME or
    // the XDG folders as the personality has them.
    std::string socket;
    std::string serviceHome;     // the installed program and its engine folder
    std::string serviceState;    // setting files and the crash journal
    std::string serviceLogs;     // the service's log and its engines' output
    std::string generatedConfig; // the engine configuration written before each connect
    std::string serviceJob;      // launchd's job file or systemd's unit
    std::string appLogs;
    std::string appData;
    std::string widgetFolder; // the status and command files shared with the widget
    mode_t widgetFolderMode = 0777;
    std::string pingProgram;
    std::string systemEngine; // an engine the system provides when none ships beside ORVEX

    // What the user can type in a terminal to see the service's state.
    std::string serviceStatusCommand;
    // The deployment's update manifest, relative to each mirror.
    std::string updateManifest;

    static Platform current();
};

} // namespace orvex

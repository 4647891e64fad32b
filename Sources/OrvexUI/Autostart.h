#pragma once

#include <optional>
#include <string>

// Start at login. On macOS a per-user launchd agent opens the application bundle; on Linux an
// XDG autostart entry runs the program. Neither needs administrator rights.
namespace orvex::Autostart {

// Whether the login entry is in place; read afresh each time, so a change by hand counts.
bool isEnabled();

// The user's error text on failure. May run launchctl for up to 15 s: call it off the
// interface thread.
std::optional<std::string> setEnabled(bool on);

// The login entry's location: ~/Library/LaunchAgents/net.orvex.app.plist on macOS,
// $XDG_CONFIG_HOME/autostart/net.orvex.app.desktop on Linux.
std::string entryPath();

// The launchd agent for the bundle at `bundlePath`, as XML.
std::string agentPlist(const std::string& bundlePath);

// The two mechanisms behind the functions above; the platform personality picks one.
namespace LaunchAgent {
bool isEnabled();
std::optional<std::string> setEnabled(bool on);
std::string entryPath();
} // namespace LaunchAgent
namespace Xdg {
bool isEnabled();
std::optional<std::string> setEnabled(bool on);
std::string entryPath();
} // namespace Xdg

} // namespace orvex::Autostart

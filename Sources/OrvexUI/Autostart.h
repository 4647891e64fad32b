#pragma once

#include <optional>
#include <string>

// Start at login through a per-user launchd agent that opens the application bundle. No
// administrator rights are needed: the agent lives in the user's own launch-agents folder.
namespace orvex::Autostart {

// Whether the agent file exists; read afresh each time, so a file removed by hand counts.
bool isEnabled();

// The user's error text on failure. Runs launchctl for up to 15 s: call it off the
// interface thread.
std::optional<std::string> setEnabled(bool on);

// "<home>/Library/LaunchAgents/net.orvex.app.plist".
std::string plistPath();

// The agent document for the bundle at `bundlePath`, as XML.
std::string agentPlist(const std::string& bundlePath);

} // namespace orvex::Autostart

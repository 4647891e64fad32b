#pragma once

#include <string>

// The privileged service as a systemd unit, the Linux counterpart of LaunchdService: its files
// under /opt/orvex, the unit file, and the systemctl commands that start and remove it. Runs
// as root in the installer roles. Failures are SystemdError, LaunchdError from the shared file
// copy, or the platform's file errors.
namespace orvex::SystemdService {

inline constexpr const char* unitName = "orvexd";

// Copies this executable and, when there is one, its engine folder into the service folder,
// writes the unit, and has systemd start it now and at every boot; a running instance is
// restarted on the new files. Fails before changing anything when systemd is not running.
void install();

// Stops and disables the service, removes the unit, the service folder and the generated
// engine configuration. Nothing installed is not an error.
void uninstall();

// The unit file's text.
std::string unitFile();

} // namespace orvex::SystemdService

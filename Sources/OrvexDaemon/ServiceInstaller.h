#pragma once

// The installer roles' work under the current personality's service manager: launchd on
// macOS, systemd on Linux.
namespace orvex::ServiceInstaller {

void install();
void uninstall();

} // namespace orvex::ServiceInstaller

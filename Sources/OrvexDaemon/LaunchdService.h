#pragma once

#include <string>

// The privileged service as a system-wide launchd job: its files under the service folder,
// the job file, and the launchctl commands that load, remove and restart it. Runs as root, in
// the installer roles and in the service itself when it updates. Failures are LaunchdError or
// the platform's file errors (std::filesystem::filesystem_error, std::system_error).
namespace orvex::LaunchdService {

// Copies this executable and its engine folder into the service folder, writes the job file
// and has launchd (re)start the service; an earlier instance is removed first.
void install();

// Stops the service and removes the job file and the service folder. Nothing installed is
// not an error.
void uninstall();

// Replaces the installed executable with `newExecutable` and the engine folder with the one
// of its bundle (Contents/Resources/engine); the job is left alone.
void refreshBinaries(const std::string& newExecutable);

// Has launchd restart the running service (TERM, which KeepAlive answers with a new start);
// never fails.
void restartService();

} // namespace orvex::LaunchdService

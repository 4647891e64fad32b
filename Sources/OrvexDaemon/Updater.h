#pragma once

#include <string>

namespace orvex {

class Log;

// Installs a new version of ORVEX as root, for the service's "install_update" request, so the
// user is not asked for a password: the manifest must offer exactly the requested version,
// its installer package is downloaded and run, the installed application is checked and the
// service's own copy refreshed from it.
namespace Updater {

// Blocking, up to about 16 minutes. Refused at once on Linux, where installing packages is the
// package manager's job. Throws UpdaterError, or the error of refreshing the
// service's files (LaunchdService::refreshBinaries). The downloaded package is deleted
// whatever the outcome once the installer has been reached.
void install(const std::string& version, Log& log);

// Returns at once; 1.5 s later, so that the answer to the request reaches the application
// first, has launchd restart the service on the new code. `log` must outlive that moment.
void restartServiceSoon(Log& log);

} // namespace Updater
} // namespace orvex

#pragma once

#include <string>
#include <sys/types.h>

// Every fixed location the application and the service share, as the platform personality
// (Platform) places them. Tests and demos relocate the absolute ones with ORVEX_ROOT;
// locations in the user's home follow HOME and, on Linux, the XDG folders.
namespace orvex::Paths {

std::string socket();
std::string daemonLabel();
std::string daemonPlist(); // the service's job file: launchd's plist or systemd's unit
std::string daemonLogDir();
std::string daemonStateDir(); // the service's setting files and crash journal
std::string appLogDir();
std::string appSupportDir();
std::string daemonHome();
std::string daemonBinary();
std::string generatedConfig();
std::string sharedDir(); // files exchanged with the widget
mode_t sharedDirMode();  // given to that folder when the application creates it
std::string applicationBundle();

std::string engineDir();
std::string xray();
std::string tun2socks();
std::string geoip();
std::string geosite();

// The engine folder for a program at `programPath`: Resources/engine beside the program's
// folder inside a bundle, else engine beside the program. Symbolic links are resolved first.
std::string engineDir(const std::string& programPath);

// The running program's own path with symbolic links resolved.
std::string executable();

// The application bundle the running program sits in (…/ORVEX.app/Contents/MacOS/ORVEX);
// empty when it runs outside one.
std::string ownBundle();

// The user's home folder: HOME when set, else the password database's entry.
std::string home();

// `absolute` under ORVEX_ROOT when that names an absolute folder, else unchanged. Every
// fixed system location and system tool goes through here.
std::string relocate(const std::string& absolute);

// Creates the folder and its missing parents; an existing folder or any failure is silently
// accepted, as every caller writes best-effort.
void ensureDir(const std::string& path);

} // namespace orvex::Paths

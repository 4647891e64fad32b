#include "SystemdService.h"

#include <filesystem>
#include <system_error>

#include "Paths.h"
#include "ServiceFiles.h"
#include "Shell.h"
#include "SystemdError.h"

namespace fs = std::filesystem;

namespace orvex::SystemdService {
namespace {

constexpr double systemctlLimit = 30;

Shell::Result systemctl(const std::vector<std::string>& arguments) {
    return Shell::run(Paths::relocate("/usr/bin/systemctl"), arguments, systemctlLimit);
}

void require(const Shell::Result& result) {
    if (!result.ok()) throw SystemdError::failed("systemctl не принял службу: " + result.output);
}

} // namespace

std::string unitFile() {
    return "[Unit]\n"
           "Description=ORVEX VPN service\n"
           "After=network-online.target\n"
           "Wants=network-online.target\n"
           "\n"
           "[Service]\n"
           "ExecStart=" +
           Paths::daemonBinary() +
           " -service\n"
           "Restart=always\n"
           "\n"
           "[Install]\n"
           "WantedBy=multi-user.target\n";
}

void install() {
    // systemd marks its own running with this folder (sd_booted); without it there is nobody
    // to hand the unit to, and nothing is copied.
    std::string marker = Paths::relocate("/run/systemd/system");
    std::error_code ignored;
    if (!fs::is_directory(marker, ignored)) throw SystemdError::notRunning(marker);

    bool wasRunning = systemctl({"is-active", "--quiet", unitName}).ok();
    ServiceFiles::install(Paths::executable(), Paths::engineDir(), false);
    ServiceFiles::writeRootFile(Paths::daemonPlist(), unitFile(), 0644);
    require(systemctl({"daemon-reload"}));
    require(systemctl({"enable", "--now", unitName}));
    // `enable --now` leaves a running instance on the old program.
    if (wasRunning) require(systemctl({"restart", unitName}));
}

void uninstall() {
    systemctl({"disable", "--now", unitName});
    std::string unit = Paths::daemonPlist();
    if (fs::exists(fs::symlink_status(unit))) fs::remove(unit);
    systemctl({"daemon-reload"});
    std::error_code ignored;
    fs::remove_all(Paths::daemonHome(), ignored);
    // It holds the user's id and the local proxy's password.
    fs::remove(Paths::generatedConfig(), ignored);
}

} // namespace orvex::SystemdService

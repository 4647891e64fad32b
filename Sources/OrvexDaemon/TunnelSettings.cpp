#include "TunnelSettings.h"

#include "AtomicFile.h"
#include "FileDescriptor.h"
#include "Paths.h"
#include "Text.h"

#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace orvex::TunnelSettings {

namespace {

bool onUnlessZero(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return true;
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    return Text::trim(text) != "0";
}

} // namespace

std::string killSwitchPath() { return Paths::daemonStateDir() + "/killswitch.state"; }
std::string adBlockPath() { return Paths::daemonStateDir() + "/adblock.state"; }
std::string splitPath() { return Paths::daemonStateDir() + "/split.state"; }

bool killSwitch() {
    struct stat info {};
    return ::stat(killSwitchPath().c_str(), &info) == 0;
}

void saveKillSwitch(bool enabled) {
    Paths::ensureDir(Paths::daemonStateDir());
    if (enabled) {
        FileDescriptor file(::open(killSwitchPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    } else {
        ::unlink(killSwitchPath().c_str());
    }
}

bool adBlock() { return onUnlessZero(adBlockPath()); }
bool split() { return onUnlessZero(splitPath()); }

void saveAdBlock(bool enabled) {
    Paths::ensureDir(Paths::daemonStateDir());
    AtomicFile::write(adBlockPath(), enabled ? "1" : "0");
}

} // namespace orvex::TunnelSettings

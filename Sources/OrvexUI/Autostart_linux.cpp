#include "Autostart.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "AtomicFile.h"
#include "DesktopEntry.h"
#include "Paths.h"

namespace orvex::Autostart {

namespace fs = std::filesystem;

std::string entryPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string folder = config != nullptr && config[0] == '/' ? config : Paths::home() + "/.config";
    return folder + "/autostart/net.orvex.app.desktop";
}

// The entry counts while it exists and the user has not hidden it (as desktop settings do).
bool isEnabled() {
    std::ifstream entry(entryPath());
    if (!entry) return false;
    std::string line;
    while (std::getline(entry, line))
        if (line == "Hidden=true") return false;
    return true;
}

std::optional<std::string> setEnabled(bool on) {
    std::string path = entryPath();
    if (on) {
        Paths::ensureDir(fs::path(path).parent_path());
        std::string entry = DesktopEntry::text(DesktopEntry::execWord(Paths::executable()),
                                               "X-GNOME-Autostart-enabled=true\n");
        if (!AtomicFile::write(path, entry))
            return "Не удалось включить автозапуск: " + std::generic_category().message(errno);
        return std::nullopt;
    }
    std::error_code error;
    fs::remove(path, error);
    if (error) return "Не удалось выключить автозапуск: " + error.message();
    return std::nullopt;
}

} // namespace orvex::Autostart

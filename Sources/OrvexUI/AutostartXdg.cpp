#include "Autostart.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "AtomicFile.h"
#include "DesktopEntry.h"
#include "Paths.h"

namespace orvex::Autostart::Xdg {

namespace fs = std::filesystem;

namespace {

std::string autostartDir() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string folder = config != nullptr && config[0] == '/' ? config : Paths::home() + "/.config";
    return folder + "/autostart";
}

// The desktop widget starts at login with the application, from its own entry: it is a
// program of its own, installed beside ours.
std::string widgetEntryPath() { return autostartDir() + "/net.orvex.widget.desktop"; }

} // namespace

std::string entryPath() { return autostartDir() + "/net.orvex.app.desktop"; }

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
    if (on) {
        const std::string enabled = "X-GNOME-Autostart-enabled=true\n";
        std::string widget = (fs::path(Paths::executable()).parent_path() / "orvex-widget").string();
        Paths::ensureDir(autostartDir());
        if (!AtomicFile::write(entryPath(),
                               DesktopEntry::text(DesktopEntry::execWord(Paths::executable()), enabled)) ||
            !AtomicFile::write(widgetEntryPath(),
                               DesktopEntry::text(DesktopEntry::execWord(widget), enabled, "Виджет ORVEX")))
            return "Не удалось включить автозапуск: " + std::generic_category().message(errno);
        return std::nullopt;
    }
    std::error_code error;
    for (const std::string& path : {entryPath(), widgetEntryPath()})
        if (fs::remove(path, error); error) return "Не удалось выключить автозапуск: " + error.message();
    return std::nullopt;
}

} // namespace orvex::Autostart::Xdg

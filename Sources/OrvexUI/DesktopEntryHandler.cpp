#include "DesktopEntry.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "AtomicFile.h"
#include "Paths.h"
#include "Platform.h"

namespace orvex::DesktopEntry {

namespace {

constexpr const char* entryName = "orvex.desktop";
constexpr const char* handlerKey = "x-scheme-handler/orvexvpn";

std::string xdgFolder(const char* variable, const std::string& fallback) {
    const char* value = std::getenv(variable);
    return value != nullptr && value[0] == '/' ? value : Paths::home() + fallback;
}

std::string readAll(const std::string& path) {
    std::ifstream file(path);
    std::stringstream contents;
    contents << file.rdbuf();
    return contents.str();
}

// Our default in the user's mimeapps.list; every other line stays as it was.
std::string withDefaultHandler(const std::string& list) {
    std::istringstream lines(list);
    std::string line, result, section;
    bool placed = false;
    while (std::getline(lines, line)) {
        if (!line.empty() && line[0] == '[') {
            if (section == "[Default Applications]" && !placed) {
                result += std::string(handlerKey) + "=" + entryName + "\n";
                placed = true;
            }
            section = line;
        } else if (section == "[Default Applications]" && line.starts_with(std::string(handlerKey) + "=")) {
            continue;
        }
        result += line + "\n";
    }
    if (!placed) {
        if (section != "[Default Applications]") result += "[Default Applications]\n";
        result += std::string(handlerKey) + "=" + entryName + "\n";
    }
    return result;
}

} // namespace

void registerURLHandler() {
    // On macOS the bundle's Info.plist declares the scheme and Launch Services reads it there.
    if (Platform::current().desktop != Platform::Desktop::freedesktop) return;
    std::string applications = xdgFolder("XDG_DATA_HOME", "/.local/share") + "/applications";
    std::string entry =
        text(execWord(Paths::executable()) + " %u", std::string("MimeType=") + handlerKey + ";\n");
    Paths::ensureDir(applications);
    if (readAll(applications + "/" + entryName) != entry)
        AtomicFile::write(applications + "/" + entryName, entry);

    std::string config = xdgFolder("XDG_CONFIG_HOME", "/.config");
    std::string list = readAll(config + "/mimeapps.list");
    std::string wanted = withDefaultHandler(list);
    if (wanted != list) {
        Paths::ensureDir(config);
        AtomicFile::write(config + "/mimeapps.list", wanted);
    }
}

} // namespace orvex::DesktopEntry

#include "DesktopEntry.h"

namespace orvex::DesktopEntry {

std::string execWord(const std::string& program) {
    std::string word = "\"";
    for (char c : program) {
        if (c == '"' || c == '`' || c == '$') word += "\\\\";
        if (c == '\\') word += "\\\\\\";
        word += c;
    }
    return word + "\"";
}

std::string text(const std::string& exec, const std::string& extra, const std::string& name) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=" +
           name +
           "\n"
           "Comment=VPN-клиент ORVEX\n"
           "Exec=" +
           exec +
           "\n"
           "Icon=orvex\n"
           "Terminal=false\n"
           "Categories=Network;\n" +
           extra;
}

} // namespace orvex::DesktopEntry

#pragma once

#include <string>

// Freedesktop desktop entries: the one that makes the desktop open orvexvpn:// links with
// ORVEX, and the texts the autostart entries share with it.
namespace orvex::DesktopEntry {

// `program` as the Exec key's first word: in double quotes, with the characters the
// desktop-entry format reserves escaped, and every backslash doubled once more for the
// file's own string escaping.
std::string execWord(const std::string& program);

// A complete application entry called `name` that runs `exec` (already quoted, arguments
// included); `extra` lines are appended as they are.
std::string text(const std::string& exec, const std::string& extra = "", const std::string& name = "ORVEX");

// Makes the desktop hand orvexvpn:// links to this program. Best effort: failures are
// silent, the application works without it. Does nothing where the platform registers the
// scheme from the bundle itself.
void registerURLHandler();

} // namespace orvex::DesktopEntry

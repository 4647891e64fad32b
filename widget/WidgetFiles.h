#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Snapshot.h"

// Where the widget finds the application's status file and leaves its command file. The
// widget shares no code with the application, so it works the folder out the same way, by
// the application's platform personality: ORVEX_PLATFORM ("macos" or "linux"), else the
// platform it was built for.
namespace orvex::widget::WidgetFiles {

// macOS: "/Users/Shared/ORVEX", taken under ORVEX_ROOT when that names an absolute folder.
// Linux: $XDG_STATE_HOME/orvex/widget, or ~/.local/state/orvex/widget.
std::string sharedDir();

// The status file's locations, best first: the shared folder, then the widget's own data
// folder ($XDG_DATA_HOME/orvex-widget, or ~/.local/share/orvex-widget).
std::vector<std::string> candidates();

// The command file, or nothing while the shared folder does not exist (the application has
// never run here, so nobody would read a command).
std::optional<std::string> commandURL();

// The first candidate that reads and decodes, without comparing dates; unknown when none does.
Snapshot load();

// The file's bytes when it is a regular file of at most 64 KiB, reached without following a
// link at its end and opened without blocking; nothing otherwise. Anyone who can write into
// the shared folder could plant a FIFO, a device or a link there.
std::optional<std::string> readStatus(const std::string& path);

// Replaces `path` with `bytes` as a whole: a fresh temporary file beside it, renamed over it.
// False when any step fails; the temporary file is gone either way.
bool writeAtomically(const std::string& path, std::string_view bytes);

// The widget's own settings (size and place): $XDG_CONFIG_HOME/orvex/widget.ini, or
// ~/.config/orvex/widget.ini.
std::string settingsPath();

} // namespace orvex::widget::WidgetFiles

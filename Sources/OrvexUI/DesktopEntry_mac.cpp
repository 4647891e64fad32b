#include "DesktopEntry.h"

namespace orvex::DesktopEntry {

// The bundle's Info.plist declares the scheme; Launch Services reads it from there.
void registerURLHandler() {}

} // namespace orvex::DesktopEntry

#include "Version.h"

#include "BundleInfo.h"
#include "Paths.h"

namespace orvex::Version {

std::string current() {
    if (auto plist = BundleInfo::infoPlistFor(Paths::executable()))
        if (auto version = BundleInfo::string(*plist, "CFBundleShortVersionString")) return *version;
    return "0.0.0-dev";
}

} // namespace orvex::Version

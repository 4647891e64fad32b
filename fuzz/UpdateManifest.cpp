// The manifest arrives from the update mirrors: whatever they send must decode to a manifest
// that survives a round trip, or to nothing; moving its download address onto a mirror must
// never fail.
#include "UpdateChecker.h"

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    std::string_view body(reinterpret_cast<const char*>(data), size);
    auto manifest = orvex::UpdateChecker::decodeManifest(body);
    if (!manifest) return 0;
    nlohmann::json again{{"version", manifest->version}, {"installerUrl", manifest->installerUrl}};
    if (manifest->changelog) again["changelog"] = *manifest->changelog;
    if (manifest->minSupportedVersion) again["minSupportedVersion"] = *manifest->minSupportedVersion;
    auto decoded = orvex::UpdateChecker::decodeManifest(again.dump());
    if (!decoded || decoded->version != manifest->version ||
        decoded->installerUrl != manifest->installerUrl || decoded->changelog != manifest->changelog ||
        decoded->minSupportedVersion != manifest->minSupportedVersion)
        std::abort();
    std::string moved = orvex::UpdateChecker::sameHost("https://mirror.example:8443/app/mac/version-mac.json",
                                                       manifest->installerUrl);
    // Only scheme, host and port move; user information and path stay as the manifest gave them.
    if (moved != manifest->installerUrl &&
        (!moved.starts_with("https://") || moved.find("mirror.example:8443/") == std::string::npos))
        std::abort();
    orvex::UpdateChecker::packageURL(manifest->installerUrl);
    return 0;
}

#include "Engine.h"

#include <filesystem>
#include <system_error>

#include "EngineError.h"
#include "Platform.h"
#include "VlessLink.h"

namespace orvex {
namespace {

bool exists(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::exists(path, ignored);
}

} // namespace

Engine Engine::locate(const std::string& folder) {
    Platform platform = Platform::current();
    Engine xray{folder, folder + "/xray", {"run", "-config"}, {}, false};
    if (platform.networkChanger == Platform::NetworkChanger::routeTools) {
        // The bridge and the data files ship with the engine; all are checked before anything runs.
        for (const char* name : {"xray", "tun2socks", "geoip.dat", "geosite.dat"})
            if (!exists(folder + "/" + name)) throw EngineError::missingBinary(folder + "/" + name);
        return xray;
    }
    if (exists(xray.program)) return xray;
    if (!platform.systemEngine.empty() && exists(platform.systemEngine))
        return {folder, platform.systemEngine, {"-config"}, {"V2RAY_LOCATION_ASSET=" + folder}, true};
    throw EngineError::missingBinary(xray.program);
}

void Engine::checkCanServe(const VlessLink& link, bool split) const {
    if (systemV2ray && link.security == "reality") throw EngineError::needsXray("REALITY", folder);
    if (systemV2ray && !link.flow.empty()) throw EngineError::needsXray("flow " + link.flow, folder);
    if (!split) return;
    for (const char* name : {"geoip.dat", "geosite.dat"})
        if (!exists(folder + "/" + name)) throw EngineError::missingGeoData(folder);
}

std::vector<std::string> Engine::arguments(const std::string& configPath) const {
    std::vector<std::string> all = options;
    all.push_back(configPath);
    return all;
}

} // namespace orvex

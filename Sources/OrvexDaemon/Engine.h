#pragma once

#include <string>
#include <vector>

namespace orvex {

struct VlessLink;

// The proxy engine a connect starts. macOS ships xray, the bridge and the data files in the
// engine folder, all required. On Linux the folder's xray is preferred; without it Debian's
// v2ray serves, which reads the same configuration but takes it as `-config <file>` and finds
// its data files through V2RAY_LOCATION_ASSET.
struct Engine {
    std::string folder;               // the engine folder, where the data files and a missing xray belong
    std::string program;              // absolute
    std::vector<std::string> options; // before the configuration file's path
    std::vector<std::string> environment;
    bool systemV2ray = false;

    // The engine for the folder under the current personality. Throws EngineError
    // (missingBinary) when a required file is missing.
    static Engine locate(const std::string& folder);

    // Throws EngineError when this engine cannot serve `link`, or when split routing is asked
    // for without its data files; nothing is started then.
    void checkCanServe(const VlessLink& link, bool split) const;

    std::vector<std::string> arguments(const std::string& configPath) const;
};

} // namespace orvex

#include "InstallerRun.h"

#include <csignal>
#include <nlohmann/json.hpp>

#include "TestSupport.h"

namespace orvex::test {

void stopFakeUnits(const std::string& root) {
    auto units = nlohmann::json::parse(readFile(root + "/fake-linux/units.json"), nullptr, false);
    if (!units.is_object() || !units.contains("pids")) return;
    for (const auto& [unit, pid] : units["pids"].items()) ::kill(pid.get<pid_t>(), SIGKILL);
}

} // namespace orvex::test

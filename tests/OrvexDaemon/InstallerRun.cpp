#include "InstallerRun.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sys/stat.h>

#include "ChildProcess.h"
#include "TestSupport.h"

namespace fs = std::filesystem;

namespace orvex::test {

RoleRun runRole(const std::string& program, const std::string& role, const std::string& scratch) {
    ChildProcess::Options options;
    options.output = ChildProcess::Redirect::toFile(scratch + "/out.txt", true);
    options.error = ChildProcess::Redirect::toFile(scratch + "/err.txt", true);
    RoleRun result;
    result.code = ChildProcess::spawn(program, {role}, options).wait();
    result.output = readFile(scratch + "/out.txt");
    result.error = readFile(scratch + "/err.txt");
    return result;
}

std::map<std::string, std::string> inventory(const std::string& folder) {
    std::map<std::string, std::string> found;
    std::error_code error;
    if (!fs::exists(folder, error)) return found;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        struct stat info {};
        lstat(entry.path().c_str(), &info);
        char text[64];
        snprintf(text, sizeof text, "%u:%u %04o%s", info.st_uid, info.st_gid, info.st_mode & 07777,
                 S_ISLNK(info.st_mode) ? " link" : "");
        found[entry.path().lexically_relative(folder).string()] = text;
    }
    return found;
}

void stopFakeUnits(const std::string& root) {
    auto units = nlohmann::json::parse(readFile(root + "/fake-linux/units.json"), nullptr, false);
    if (!units.is_object() || !units.contains("pids")) return;
    for (const auto& [unit, pid] : units["pids"].items()) ::kill(pid.get<pid_t>(), SIGKILL);
}

} // namespace orvex::test

#pragma once

#include <map>
#include <string>

namespace orvex::test {

// What one run of an installer role left behind.
struct RoleRun {
    int code = -1;
    std::string output;
    std::string error;
};

// Runs `program` with `role` and waits for it; its output streams go through files in `scratch`.
RoleRun runRole(const std::string& program, const std::string& role, const std::string& scratch);

// Owner, group and mode of every entry under `folder`, by path relative to it; links as links.
std::map<std::string, std::string> inventory(const std::string& folder);

// Kills whatever the fake systemctl under `root` started and still counts as running, so that
// no installed service outlives its test.
void stopFakeUnits(const std::string& root);

} // namespace orvex::test

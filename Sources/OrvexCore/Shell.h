#pragma once

#include <functional>
#include <string>
#include <vector>

// Runs one external program directly (no shell) with a time limit and merged output.
namespace orvex::Shell {

struct Result {
    int code = -1;      // exit status; -1 when it did not start or was stopped at the limit
    std::string output; // stdout and stderr interleaved, UTF-8, trimmed; or Shell's message
    bool ok() const { return code == 0; }
};

// Never throws: a program that cannot start or overruns `timeout` seconds gives code -1.
Result run(const std::string& program, const std::vector<std::string>& arguments, double timeout);

// The macOS network tools at their fixed (relocatable) paths.
Result route(const std::vector<std::string>& arguments, double timeout);
Result ifconfig(const std::vector<std::string>& arguments, double timeout);
Result networksetup(const std::vector<std::string>& arguments, double timeout);

// The seam through which classes that drive system tools are handed `run` or a fake.
using Runner = std::function<Result(const std::string& program, const std::vector<std::string>& arguments,
                                    double timeout)>;

} // namespace orvex::Shell

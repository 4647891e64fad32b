#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "Shell.h"

namespace orvex {
class Log;
}

namespace orvex::test {

// A command runner for in-process tests: records every command and answers from a table, so
// a test can state the whole command sequence and make any single call fail.
class ScriptedRunner {
public:
    struct Call {
        std::string program;
        std::vector<std::string> arguments;
        double timeout = 0;
        // The program's base name and the arguments, separated by blanks.
        std::string line() const;
    };

    // Every command whose line begins with `prefix` gets `result`; a later rule wins over an
    // earlier one. Commands that no rule covers succeed with no output.
    void answer(const std::string& prefix, Shell::Result result);
    // The k-th call from now on (1-based) fails with exit status 1 and `output`.
    void failCall(size_t k, std::string output);

    Shell::Runner runner();
    const std::vector<Call>& calls() const { return calls_; }
    std::vector<std::string> lines() const;
    void clear() { calls_.clear(); }

private:
    std::vector<std::pair<std::string, Shell::Result>> rules_;
    std::map<size_t, std::string> failures_;
    std::vector<Call> calls_;
    size_t made_ = 0; // every call since construction, whatever clear() forgot
};

// The messages of `log` written so far, without time stamp and name.
std::vector<std::string> messagesOf(Log& log);

} // namespace orvex::test

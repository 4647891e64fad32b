#include "ScriptedRunner.h"

#include "Log.h"
#include "TestSupport.h"

#include <sstream>

namespace orvex::test {

std::string ScriptedRunner::Call::line() const {
    std::string text = program.substr(program.rfind('/') + 1);
    for (const auto& argument : arguments) text += " " + argument;
    return text;
}

void ScriptedRunner::answer(const std::string& prefix, Shell::Result result) {
    rules_.emplace_back(prefix, std::move(result));
}

void ScriptedRunner::failCall(size_t k, std::string output) { failures_[made_ + k] = std::move(output); }

Shell::Runner ScriptedRunner::runner() {
    return [this](const std::string& program, const std::vector<std::string>& arguments, double timeout) {
        calls_.push_back({program, arguments, timeout});
        if (auto failure = failures_.find(++made_); failure != failures_.end())
            return Shell::Result{1, failure->second};
        std::string line = calls_.back().line();
        for (auto rule = rules_.rbegin(); rule != rules_.rend(); ++rule)
            if (line.starts_with(rule->first)) return rule->second;
        return Shell::Result{0, ""};
    };
}

std::vector<std::string> ScriptedRunner::lines() const {
    std::vector<std::string> result;
    for (const auto& call : calls_) result.push_back(call.line());
    return result;
}

std::vector<std::string> messagesOf(Log& log) {
    log.flush();
    std::vector<std::string> messages;
    std::istringstream text(readFile(log.filePath()));
    for (std::string line; std::getline(text, line);) {
        auto start = line.find("] ");
        messages.push_back(start == std::string::npos ? line : line.substr(start + 2));
    }
    return messages;
}

} // namespace orvex::test

#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <string>
#include <sys/types.h>
#include <vector>

#include "TestSupport.h"

namespace orvex::test {

// An engine folder with the fake xray and tun2socks of tests/fixtures (as links, so they find
// their helper module) and empty geo files; the fakes take their mode from and record each start
// in <root>/fake-engine.
class FakeEngine : public FakeTools {
public:
    FakeEngine(std::string root, std::string engineDir)
        : FakeTools(std::move(root), "fake-engine", {}), engineDir_(std::move(engineDir)) {
        std::filesystem::create_directories(engineDir_);
        for (const char* program : {"xray", "tun2socks"})
            std::filesystem::create_symlink(fixture(program), engineDir_ + "/" + program);
        for (const char* data : {"/geoip.dat", "/geosite.dat"}) writeFile(engineDir_ + data, "");
    }

    const std::string& engineDir() const { return engineDir_; }

    // How `program` behaves from its next start: xray "exit", "silent" (never listens) or
    // "stubborn" (ignores TERM); tun2socks "exit"; "" as the real one.
    void setMode(const std::string& program, const std::string& mode) {
        writeFile(folder() + "/" + program + ".mode", mode);
    }
    // One record per start of `program`, in order: pid, args, cwd and the descriptors it had (fds).
    std::vector<nlohmann::json> runs(const std::string& program) const {
        std::vector<nlohmann::json> out;
        for (const auto& line : lines(program + ".runs")) out.push_back(nlohmann::json::parse(line));
        return out;
    }
    // Whether the process exists and has not ended (a zombie counts as ended).
    static bool alive(pid_t pid) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        auto close = text.rfind(')');
        return close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z' &&
               text[close + 2] != 'X';
    }

private:
    std::string engineDir_;
};

} // namespace orvex::test

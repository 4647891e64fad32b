#include "FakeEngine.h"

#include "TestSupport.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace orvex::test {

FakeEngine::FakeEngine(std::string root, std::string folder)
    : root_(std::move(root)), folder_(std::move(folder)) {
    fs::create_directories(folder_);
    fs::create_directories(control());
    for (const char* program : {"xray", "tun2socks"})
        fs::create_symlink(fixture(program), folder_ + "/" + program);
    writeFile(folder_ + "/geoip.dat", "");
    writeFile(folder_ + "/geosite.dat", "");
}

std::string FakeEngine::control() const { return root_ + "/fake-engine"; }

void FakeEngine::setXrayMode(XrayMode mode) {
    const char* words[] = {"listen", "exit", "silent", "stubborn"};
    writeFile(control() + "/xray.mode", words[static_cast<int>(mode)]);
}

void FakeEngine::setBridgeExitsAtOnce(bool exits) {
    writeFile(control() + "/tun2socks.mode", exits ? "exit" : "");
}

std::vector<nlohmann::json> FakeEngine::runs(const std::string& program) const {
    std::vector<nlohmann::json> result;
    std::ifstream file(control() + "/" + program + ".runs");
    for (std::string line; std::getline(file, line);)
        if (!line.empty()) result.push_back(nlohmann::json::parse(line));
    return result;
}

bool FakeEngine::alive(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    auto close = text.rfind(')');
    if (close == std::string::npos || close + 2 >= text.size()) return false;
    return text[close + 2] != 'Z' && text[close + 2] != 'X';
}

} // namespace orvex::test

#include "TestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>

#include "SocketPlatform.h"

namespace fs = std::filesystem;

namespace orvex::test {

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "orvex-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

ScopedEnv::ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) previous_ = old;
    if (value)
        setenv(name_.c_str(), value->c_str(), 1);
    else
        unsetenv(name_.c_str());
}

ScopedEnv::~ScopedEnv() {
    if (previous_)
        setenv(name_.c_str(), previous_->c_str(), 1);
    else
        unsetenv(name_.c_str());
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const std::string& contents, unsigned mode) {
    fs::create_directories(fs::path(path).parent_path());
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file << contents;
        if (!file) throw std::runtime_error("cannot write " + path);
    }
    chmod(path.c_str(), mode);
}

std::string fixture(const std::string& name) { return std::string(ORVEX_FIXTURES_DIR) + "/" + name; }

FakeTools::FakeTools(std::string root, const std::string& machine,
                     std::initializer_list<std::pair<const char*, const char*>> tools)
    : root_(std::move(root)), folder_(root_ + "/" + machine) {
    for (const auto& [name, place] : tools) {
        fs::path link = root_ + place;
        fs::create_directories(link.parent_path());
        fs::remove(link);
        fs::create_symlink(fixture(name), link);
    }
    fs::create_directories(folder_);
}

std::vector<std::string> FakeTools::lines(const std::string& name) const {
    std::vector<std::string> out;
    std::istringstream text(readFile(folder_ + "/" + name));
    for (std::string line; std::getline(text, line);)
        if (!line.empty()) out.push_back(line);
    return out;
}

std::vector<std::string> FakeTools::calls(const std::string& tool) const {
    std::vector<std::string> out;
    for (const std::string& line : lines("calls.log")) {
        auto call = nlohmann::json::parse(line);
        if (!tool.empty() && call[0] != tool) continue;
        std::string joined;
        for (const auto& word : call) joined += (joined.empty() ? "" : " ") + word.get<std::string>();
        out.push_back(joined);
    }
    return out;
}

void FakeTools::failAt(const std::string& tool, size_t k) {
    std::string path = folder_ + "/" + tool + ".fail-at";
    writeFile(path, readFile(path) + std::to_string(k) + "\n");
}

void FakeTools::deny(const std::string& tool, const std::string& matching) {
    std::string path = folder_ + "/" + tool + ".deny";
    writeFile(path, readFile(path) + (matching.empty() ? "" : matching + "\n"));
}

void FakeTools::clearFailures() {
    for (const auto& entry : fs::directory_iterator(folder_)) {
        std::string name = entry.path().filename().string();
        if (name.ends_with("fail-at") || name.ends_with(".deny") || name == "fail-matching")
            fs::remove(entry.path());
    }
}

FileDescriptor idleClient(const std::string& path, bool waitForRoom) {
    FileDescriptor fd(SocketPlatform::openStream());
    if (!waitForRoom) ::fcntl(fd.get(), F_SETFL, O_NONBLOCK);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::copy(path.begin(), path.end(), address.sun_path);
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address),
                  SocketPlatform::finishAddress(address)) != 0)
        return {};
    return fd;
}

} // namespace orvex::test

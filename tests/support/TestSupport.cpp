#include "TestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
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

#include "SystemInfo.h"

#include <string.h>
#include <sys/sysctl.h>
#include <unistd.h>
#include <vector>

namespace orvex::SystemInfo {
namespace {

std::string sysctlText(const char* name) {
    size_t size = 0;
    if (sysctlbyname(name, nullptr, &size, nullptr, 0) != 0 || size < 1) return {};
    std::vector<char> buffer(size, '\0');
    if (sysctlbyname(name, buffer.data(), &size, nullptr, 0) != 0) return {};
    return std::string(buffer.data(), strnlen(buffer.data(), buffer.size()));
}

} // namespace

std::string model() {
    std::string identifier = sysctlText("hw.model");
    return identifier.empty() ? "Mac" : identifier;
}

std::string version() {
    // kern.osproductversion drops a zero patch number ("14.4"); the label always has three.
    std::string product = sysctlText("kern.osproductversion");
    int parts[3] = {0, 0, 0};
    size_t index = 0;
    for (char c : product) {
        if (c == '.') {
            if (++index == 3) break;
        } else if (c >= '0' && c <= '9') {
            parts[index] = parts[index] * 10 + (c - '0');
        }
    }
    return "macOS " + std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." +
           std::to_string(parts[2]);
}

std::string hostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "Mac";
    return name;
}

std::string platform() { return "macos"; }

} // namespace orvex::SystemInfo

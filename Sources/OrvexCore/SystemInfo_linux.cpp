#include "SystemInfo.h"

#include <fstream>
#include <iterator>
#include <limits.h>
#include <sys/utsname.h>
#include <unistd.h>

#include "Text.h"

namespace orvex::SystemInfo {

std::string model() {
    // The firmware's product name is the closest Linux has to a hardware model identifier.
    std::ifstream file("/sys/class/dmi/id/product_name");
    std::string name = Text::trim(Text::utf8OrEmpty(
        std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>())));
    return name.empty() ? "Linux" : name;
}

std::string version() {
    utsname names{};
    if (uname(&names) != 0) return "Linux";
    return std::string("Linux ") + names.release;
}

std::string hostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "Linux";
    return name;
}

std::string platform() { return "linux"; }

} // namespace orvex::SystemInfo

#include "ProcessStartTime.h"

#include <fstream>
#include <iterator>
#include <sstream>

namespace orvex::ProcessStartTime {

std::optional<std::string> of(pid_t pid) {
    if (pid <= 0) return std::nullopt;
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    if (!file) return std::nullopt;
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    // The command name in parentheses may itself hold blanks and parentheses; the fields
    // after the last closing one are plain numbers and letters. The start time (in clock
    // ticks since boot) is the 22nd field, the 20th after the name.
    auto close = text.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream fields(text.substr(close + 1));
    std::string field;
    for (int index = 3; index <= 22; ++index) {
        if (!(fields >> field)) return std::nullopt;
    }
    return field;
}

} // namespace orvex::ProcessStartTime

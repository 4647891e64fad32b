#include "XvfbDisplay.h"

#include <filesystem>

namespace orvex::test {

XvfbDisplay::XvfbDisplay() {
    const std::string program = "/usr/bin/Xvfb";
    if (!std::filesystem::exists(program)) return;
    ChildProcess::Options options;
    options.output = ChildProcess::Redirect::toFile(dir_ / "display");
    options.error = ChildProcess::Redirect::toFile(dir_ / "xvfb.log");
    server_.emplace(ChildProcess::spawn(
        program, {"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"}, options));
    std::string number;
    waitUntil([&] {
        number = readFile(dir_ / "display");
        return number.find('\n') != std::string::npos || !server_->running();
    });
    if (number.find('\n') == std::string::npos) return;
    display_ = ":" + number.substr(0, number.find('\n'));
    environment_.emplace("DISPLAY", *display_);
}

} // namespace orvex::test

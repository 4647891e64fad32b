#pragma once

#include <optional>
#include <string>

#include "ChildProcess.h"
#include "TestSupport.h"

namespace orvex::test {

// A private X server for tests that run real windows: Xvfb on a display number it picks
// itself, with DISPLAY pointing at it for the object's lifetime. `available()` is false where
// Xvfb is not installed.
class XvfbDisplay {
public:
    XvfbDisplay();

    bool available() const { return display_.has_value(); }
    const std::string& name() const { return *display_; }

private:
    TempDir dir_;
    std::optional<ChildProcess> server_;
    std::optional<std::string> display_;
    std::optional<ScopedEnv> environment_;
};

} // namespace orvex::test

#pragma once

#include <string>

namespace orvex::Version {

// CFBundleShortVersionString of the bundle the program runs from, else "0.0.0-dev".
std::string current();

} // namespace orvex::Version

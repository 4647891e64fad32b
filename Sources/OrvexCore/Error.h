#pragma once

#include <stdexcept>
#include <string>

namespace orvex {

// Base of every typed ORVEX error. what() is the exact Russian text the user sees, so the
// UI and the logs can show any of them without knowing the kind.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace orvex

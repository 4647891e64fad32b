#pragma once

#include "Error.h"

#include <string>

namespace orvex {

// A network change that could not be made; the message says which and carries the system
// tool's own words where there are any.
class RoutingError : public Error {
public:
    enum class Case { step };

    static RoutingError step(const std::string& message) { return RoutingError(Case::step, message); }

    Case which() const { return case_; }

private:
    RoutingError(Case which, const std::string& text) : Error(text), case_(which) {}

    Case case_;
};

} // namespace orvex

#pragma once

#include "Error.h"

#include <string>

namespace orvex {

// A step of the service's own update install that failed; the message says which.
class UpdaterError : public Error {
public:
    enum class Case { step };

    static UpdaterError step(const std::string& message) { return UpdaterError(Case::step, message); }

    Case which() const { return case_; }

private:
    UpdaterError(Case which, const std::string& text) : Error(text), case_(which) {}

    Case case_;
};

} // namespace orvex

#pragma once

#include "Error.h"

#include <string>

namespace orvex {

// The service could not be installed as a launchd job; the text says why, with launchctl's
// own words where there are any.
class LaunchdError : public Error {
public:
    enum class Case { failed };

    static LaunchdError failed(const std::string& text) { return LaunchdError(Case::failed, text); }

    Case which() const { return case_; }

private:
    LaunchdError(Case which, const std::string& text) : Error(text), case_(which) {}

    Case case_;
};

} // namespace orvex

#pragma once

#include "Error.h"

#include <string>

namespace orvex {

// Why a command run with administrator rights did not succeed.
class ElevationError : public Error {
public:
    enum class Case { failed, cancelled };

    // The administrator shell's own words, or a fixed text when it said nothing.
    static ElevationError failed(const std::string& text) { return ElevationError(Case::failed, text); }
    // The user dismissed the password prompt.
    static ElevationError cancelled() { return ElevationError(Case::cancelled, "Установка отменена"); }

    Case which() const { return case_; }

private:
    ElevationError(Case which, const std::string& text) : Error(text), case_(which) {}

    Case case_;
};

} // namespace orvex

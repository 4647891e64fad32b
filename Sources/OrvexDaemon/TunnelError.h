#pragma once

#include "Error.h"

#include <string>

namespace orvex {

// The tunnel's own failures; errors of the parts it drives pass through as they are.
class TunnelError : public Error {
public:
    enum class Case { busy, step };

    static TunnelError busy() { return TunnelError(Case::busy, "уже подключено или подключается"); }
    static TunnelError step(const std::string& message) { return TunnelError(Case::step, message); }

    Case which() const { return case_; }

private:
    TunnelError(Case which, const std::string& text) : Error(text), case_(which) {}

    Case case_;
};

} // namespace orvex

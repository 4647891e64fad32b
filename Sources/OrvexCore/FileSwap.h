#pragma once

#include <string>

// Replaces a file or folder in one step, so that no reader ever finds it missing or half
// there: an application being updated is either wholly the old one or wholly the new one.
namespace orvex::FileSwap {

// Exchanges the two entries, which must be on one file system: afterwards `a` holds what was
// at `b` and `b` what was at `a`. Throws std::system_error with the platform's error.
void exchange(const std::string& a, const std::string& b);

} // namespace orvex::FileSwap

#pragma once

#include <optional>
#include <string>

// Reads values from an application bundle's Info.plist (XML or binary).
namespace orvex::BundleInfo {

// The text value of `key` at the top of the property list at `plistPath`; nothing when the
// file is missing, unreadable, not a property list, or the value is not a text.
std::optional<std::string> string(const std::string& plistPath, const std::string& key);

// Contents/Info.plist of the bundle whose Contents/MacOS holds `programPath`; nothing when
// the program does not sit in a bundle.
std::optional<std::string> infoPlistFor(const std::string& programPath);

} // namespace orvex::BundleInfo

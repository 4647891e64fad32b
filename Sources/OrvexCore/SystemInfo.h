#pragma once

#include <string>

// Names the device and its system for the account server and the device list.
namespace orvex::SystemInfo {

std::string model();    // hardware model, e.g. "MacBookPro18,3"; "Mac" / "Linux" when unknown
std::string version();  // "macOS 14.4.1" / "Linux 6.1.0-18-amd64"
std::string hostName(); // the device label offered at sign-in
std::string platform(); // the platform word the server files devices under: "macos" / "linux"

} // namespace orvex::SystemInfo

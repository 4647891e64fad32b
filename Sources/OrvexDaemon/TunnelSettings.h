#pragma once

#include <string>

// The tunnel's three persisted settings, small files beside the service log. They outlive
// the service so that a restart (launchd, an update) keeps what the user chose.
namespace orvex::TunnelSettings {

std::string killSwitchPath();
std::string adBlockPath();
std::string splitPath();

// On when the file exists.
bool killSwitch();
// Creates the empty file or removes it; failures are ignored, the caller keeps the setting
// in memory.
void saveKillSwitch(bool enabled);

// Both off only when the file's text, trimmed, is "0": a missing or unreadable file means on.
bool adBlock();
bool split();

// Writes "1" or "0", replacing the file; failures are ignored like those of saveKillSwitch.
void saveAdBlock(bool enabled);

} // namespace orvex::TunnelSettings

#pragma once

#include <string>
#include <sys/types.h>

// The installed service's own files, shared by the launchd and systemd installers: a copy of
// the program and of its engine folder in the service folder, all given to root. Failures are
// LaunchdError or the platform's file errors.
namespace orvex::ServiceFiles {

// Copies `program` to the service folder's orvexd (0755) and the folder `engine` to its
// engine folder ("xray" and "tun2socks" 0755, everything else 0644), replacing what stands
// there; no link is followed. With `engineRequired` a missing engine folder, xray or tun2socks
// fails the call; without it a missing folder is skipped.
void install(const std::string& program, const std::string& engine, bool engineRequired);

// Writes `text` to `path` atomically and gives the file to root with `mode`.
void writeRootFile(const std::string& path, const std::string& text, mode_t mode);

} // namespace orvex::ServiceFiles

#pragma once

#include <optional>
#include <string>
#include <sys/types.h>

// When a process started, as the system keeps it. Process ids are reused, so an id alone
// does not name a process across a restart of the service; the id and this token together do.
namespace orvex::ProcessStartTime {

// An opaque token, equal for the same process at every reading; nothing when no process has
// that id (or it cannot be read).
std::optional<std::string> of(pid_t pid);

} // namespace orvex::ProcessStartTime

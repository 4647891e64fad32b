#pragma once

#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// What the network changes of the current tunnel would need undone, kept on disk beside the
// service log. Memory alone is not enough: a service killed while connected would otherwise
// leave every network service pointing at our DNS servers and the server's bypass route in
// place for good. The next start replays the journal as a tear-down.
namespace orvex::RoutingJournal {

struct Record {
    std::string serverIP;
    std::string scopedIface;
    std::string scopedGateway;
    bool ipv6Blocked = false;
    std::map<std::string, std::string> dnsBackup; // service → servers joined by blanks; "" = none

    bool empty() const;
    bool operator==(const Record&) const = default;
};

std::string path();

// Replaces the journal atomically (a temporary file in the same folder, flushed to disk, then
// renamed over it), so a crash leaves either the old or the new record, never half of one.
// An empty record removes the journal. Returns false when it could not be written.
bool save(const Record& record);

// The journal on disk, nothing when there is none. Throws std::runtime_error when a file is
// there but cannot be read as a journal.
std::optional<Record> load();

void remove();

// A process the tunnel started (the engine or the bridge). A service that is killed leaves
// them running, still holding the tunnel interface; the next start stops them, but only when
// the id still names the same process (same start time), since the system reuses ids.
struct Child {
    pid_t pid = 0;
    std::string started; // ProcessStartTime::of(pid) when it was started
    std::string name;    // "xray" or "tun2socks"

    bool operator==(const Child&) const = default;
};

std::string childrenPath();

// Replaces the list atomically; an empty list removes it. False when it could not be written.
bool saveChildren(const std::vector<Child>& children);

// The list on disk; empty when there is none or it cannot be read.
std::vector<Child> loadChildren();

void removeChildren();

} // namespace orvex::RoutingJournal

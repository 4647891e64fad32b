#pragma once

#include <map>
#include <optional>
#include <string>

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

} // namespace orvex::RoutingJournal

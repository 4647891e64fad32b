#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace orvex::widget {

using TimePoint = std::chrono::system_clock::time_point;

// What the application last said about the tunnel, as it wrote it into "widget-status.json".
struct Snapshot {
    std::string state; // "disconnected" | "connecting" | "connected" | "error"; "unknown" for no data
    std::string server;
    bool blocked = false;
    double updated = 0;                 // seconds since 2001-01-01 00:00:00 UTC, fractional
    std::optional<std::string> pending; // "connect" | "disconnect"
    std::optional<bool> alive;

    // The record of a status file: "state", "server", "blocked" and "updated" must be there
    // with their JSON types, "pending" and "alive" may be missing or null; other keys are
    // ignored. Anything else decodes to nothing.
    static std::optional<Snapshot> decode(std::string_view bytes);
    // No data at all: dated so far back that nothing time-limited applies to it.
    static Snapshot unknown();

    // Seconds from `updated` to `now`; negative when the file claims a time still to come.
    double age(TimePoint now) const;
};

// `time` in the status file's count: seconds since 2001-01-01 00:00:00 UTC.
double secondsSince2001(TimePoint time);

} // namespace orvex::widget

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// When to tell the user something on their own initiative, and in which words: subscription
// reminders, loss of protection, new versions, the server's notification queue. The rules keep
// no state: the caller holds the records below, passes them in and stores what comes back.
namespace orvex::Notices {

// Reminder thresholds in days before the subscription ends, largest first.
inline constexpr std::array<int, 3> expiryThresholds{3, 1, 0};
// At most this many queued server notifications are shown at once, so a long absence does
// not end in a flood.
inline constexpr std::size_t queueMaxShow = 3;

// One notification's words.
struct Notice {
    std::string title;
    std::string body;
    bool operator==(const Notice&) const = default;
};

// The reminders already given for one subscription end.
struct ExpiryState {
    std::string expiresAt;       // the end the reminders refer to
    std::optional<int> notified; // the threshold of the last reminder shown for it
    bool operator==(const ExpiryState&) const = default;
};

// How far the server's notification queue has been handled.
struct QueueState {
    std::optional<std::int64_t> lastId; // the newest id handled; absent before the first contact
    // The position to ask the server from: lastId, or -1 before the first contact.
    std::int64_t since() const { return lastId.value_or(-1); }
    bool operator==(const QueueState&) const = default;
};

// What a status poll saw of the tunnel.
struct TunnelSnapshot {
    bool error = false;          // the tunnel is in its error state
    bool killSwitchHold = false; // the service holds all traffic blocked
    bool operator==(const TunnelSnapshot&) const = default;
};

enum class TunnelEvent { none, killSwitch, unprotected };

struct ExpiryDecision {
    bool fire = false;
    int threshold = 0; // meaningful only when `fire`
    ExpiryState next;
};

struct QueuePick {
    std::size_t from = 0; // the items from this index to the end are shown
    QueueState next;
};

// The reminder due with `daysLeft` days left before `expiresAt`: each threshold at most once
// per subscription end, only the one for the current day count (a reminder missed while the
// application was not running is not caught up), and a new end starts over. An empty end or
// a negative count decides nothing and leaves the state as it is.
ExpiryDecision expiry(std::int64_t daysLeft, const std::string& expiresAt, const ExpiryState& state);
Notice expiryText(int threshold);

// Only transitions count: a state that lasts across polls is reported once, when it begins.
TunnelEvent tunnel(TunnelSnapshot prev, TunnelSnapshot cur);
std::optional<Notice> tunnelText(TunnelEvent event);

bool shouldAnnounceUpdate(const std::string& version, const std::optional<std::string>& seen);
Notice updateText(const std::string& version);

// `ids` in the order the server sent them; the last of them becomes the new position.
QueuePick pickQueue(const std::vector<std::int64_t>& ids, const QueueState& state);

} // namespace orvex::Notices

#pragma once

#include "Notices.h"
#include "Paths.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvex {

class Log;
class NotificationCentre;
struct NotificationItem;

// Posts the application's own notifications and remembers across restarts what it has
// announced (in notices.json), so that each reminder reaches the user once. The rules come
// from Notices; this adds the posting, the persisted state and the log lines.
//
// One owner, the application model, calls every method on its main thread. The centre and
// the log must outlive the notifier and every failure the centre may still report.
class Notifier {
public:
    Notifier(NotificationCentre& centre, Log& log,
             std::string stateFile = Paths::appSupportDir() + "/notices.json");
    Notifier(const Notifier&) = delete;
    Notifier& operator=(const Notifier&) = delete;

    // Reads the persisted state once per notifier; a missing, corrupt or incomplete file
    // leaves the defaults. Every method that needs the state calls it itself.
    void load();
    // Writes the persisted state; a failure is logged and the state stays in memory.
    void save();

    void show(const std::string& title, const std::string& body);
    // Asks the desktop for permission to notify; a refusal with a reason is logged.
    void requestPermission();

    // A status poll's view of the tunnel: reports the kill switch engaging and protection
    // being lost, once each when it begins. Neither loads nor saves.
    void noteTunnel(bool error, bool killSwitchHold);
    // The subscription's end as the account server reports it; absent values do nothing.
    void noteExpiry(std::optional<std::int64_t> daysLeft, const std::optional<std::string>& expiresAt);
    // The `since` position for the server's notification queue.
    std::int64_t queueSince();
    // One reply of the notification queue. On first contact only the server's `lastId` is
    // stored: old notifications are never shown on a fresh installation.
    void consumeQueue(const std::vector<NotificationItem>& items, std::int64_t lastId);
    // A newer version found by the update check; each version is announced once.
    void noteUpdate(const std::string& version);

private:
    void show(const Notices::Notice& notice) { show(notice.title, notice.body); }

    NotificationCentre& centre_;
    Log& log_;
    const std::string stateFile_;

    Notices::ExpiryState expiry_;
    Notices::QueueState queue_;
    std::optional<std::string> updateSeen_;
    Notices::TunnelSnapshot lastTunnel_;
    bool loaded_ = false;
};

} // namespace orvex

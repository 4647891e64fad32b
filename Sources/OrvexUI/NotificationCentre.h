#pragma once

#include <functional>
#include <memory>
#include <string>

namespace orvex {

// The desktop's user-notification service. Posting never blocks the caller and never throws:
// a refusal comes back through `failed`, on a thread of the platform's choosing, with the
// platform's own description.
class NotificationCentre {
public:
    using Failure = std::function<void(const std::string& description)>;
    // `error` is empty when the desktop gave no reason.
    using PermissionAnswer = std::function<void(bool granted, const std::string& error)>;

    virtual ~NotificationCentre() = default;

    // One notification with the default sound, delivered at once.
    virtual void post(const std::string& title, const std::string& body, Failure failed) = 0;

    // Asks the user once for permission to show alerts with sound; the answer comes like a
    // failure, on any thread. A desktop that asks nobody (the freedesktop service) grants.
    virtual void requestPermission(PermissionAnswer answered) { answered(true, {}); }

    // The platform's centre: the freedesktop notification service over D-Bus on Linux,
    // UserNotifications on macOS.
    static std::shared_ptr<NotificationCentre> system();
};

} // namespace orvex

#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace orvex {

class APIClient;
class Clock;
class Keychain;
class NotificationCentre;
class ServiceClient;
class Workspace;

// Everything the application model reaches outside the process, each piece replaceable by a
// test. A default-constructed environment is the production one.
struct AppEnvironment {
    AppEnvironment();

    std::shared_ptr<ServiceClient> service;
    std::shared_ptr<APIClient> api;
    std::shared_ptr<Keychain> keychain;
    std::shared_ptr<Clock> clock;
    std::shared_ptr<NotificationCentre> notifications;
    std::shared_ptr<Workspace> workspace;

    // Runs this program with one argument as the administrator; throws ElevationError.
    std::function<void(const std::string& argument)> elevateSelf;
    // Milliseconds to `host`, -1 when it does not answer.
    std::function<int(const std::string& host, int timeoutMs)> ping;

    // Start at login: whether it is on, and switching it (an error text on failure).
    std::function<bool()> autostartEnabled;
    std::function<std::optional<std::string>(bool on)> setAutostart;

    // Marks a toggle the user asked for ("connect" or "disconnect") in the widget's status
    // file. Empty until the desktop shell provides the widget bridge.
    std::function<void(const std::string& pending)> widgetPending;

    // The folder files from support are saved in; any thread.
    std::function<std::string()> downloadsDir;

    // Where the application log, the log switch and the notifier's state live.
    std::string appLogDir;
    std::string noticesFile;
};

} // namespace orvex

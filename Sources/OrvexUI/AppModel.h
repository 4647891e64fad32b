#pragma once

#include <QObject>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "APITypes.h"
#include "AppEnvironment.h"
#include "Clock.h"
#include "IPCProtocol.h"
#include "Log.h"
#include "UpdateChecker.h"

namespace orvex {

class Notifier;

using OptionalText = std::optional<std::string>;
using OptionalSubscription = std::optional<SubscriptionResponse>;
using ServerList = std::vector<ServerItem>;
using EventList = std::vector<EventItem>;
using DeviceList = std::vector<DeviceItem>;
using SupportMessageList = std::vector<SupportMessageItem>;
using PingMap = std::map<std::int64_t, int>; // server id → milliseconds, -1 when it failed
using OptionalUpdate = std::optional<UpdateChecker::Info>;
using OptionalFraction = std::optional<double>;

// The application's one observable state object. Screens, the tray and the widget bridge read
// its properties and call its operations; every property's change signal fires on every
// assignment, also when the value stays the same.
//
// All state lives on the thread that created the model (the interface thread). A user action
// is one sequential function that runs on a worker thread of its own and hops to the model's
// thread for every read and write of state; its blocking calls (the service socket, the
// account server, the administrator prompt) run on that worker. Periodic flows are
// single-flight and use workers of their own, so a hung service never holds up an action.
class AppModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool linked READ linked NOTIFY linkedChanged)
    Q_PROPERTY(orvex::TunnelStatus status READ status NOTIFY statusChanged)
    Q_PROPERTY(orvex::OptionalSubscription subscription READ subscription NOTIFY subscriptionChanged)
    Q_PROPERTY(orvex::ServerList servers READ servers NOTIFY serversChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    Q_PROPERTY(orvex::OptionalText message READ message NOTIFY messageChanged)
    Q_PROPERTY(bool daemonInstalled READ daemonInstalled NOTIFY daemonInstalledChanged)
    Q_PROPERTY(bool loggingEnabled READ loggingEnabled NOTIFY loggingEnabledChanged)
    Q_PROPERTY(orvex::EventList events READ events NOTIFY eventsChanged)
    Q_PROPERTY(orvex::DeviceList devices READ devices NOTIFY devicesChanged)
    Q_PROPERTY(orvex::SupportMessageList supportMessages READ supportMessages NOTIFY supportMessagesChanged)
    Q_PROPERTY(orvex::OptionalText notice READ notice NOTIFY noticeChanged)
    Q_PROPERTY(qint64 changeRetryAfter READ changeRetryAfter NOTIFY changeRetryAfterChanged)
    Q_PROPERTY(qint64 changeCooldown READ changeCooldown NOTIFY changeCooldownChanged)
    Q_PROPERTY(orvex::PingMap pings READ pings NOTIFY pingsChanged)
    Q_PROPERTY(bool autostart READ autostart NOTIFY autostartChanged)
    Q_PROPERTY(orvex::OptionalText pendingLinkCode READ pendingLinkCode NOTIFY pendingLinkCodeChanged)
    Q_PROPERTY(orvex::OptionalUpdate update READ update NOTIFY updateChanged)
    Q_PROPERTY(orvex::OptionalFraction updateProgress READ updateProgress NOTIFY updateProgressChanged)
    Q_PROPERTY(bool updateReady READ updateReady NOTIFY updateReadyChanged)
    Q_PROPERTY(orvex::OptionalText updateDismissed READ updateDismissed NOTIFY updateDismissedChanged)
    Q_PROPERTY(bool mandatoryUpdatePending READ mandatoryUpdatePending NOTIFY updateStateChanged)
    Q_PROPERTY(bool showUpdateDialog READ showUpdateDialog NOTIFY updateStateChanged)

public:
    explicit AppModel(AppEnvironment environment = AppEnvironment(), QObject* parent = nullptr);
    // Waits for the workers still running; their later hops to the model are dropped.
    ~AppModel() override;

    bool linked() const { return linked_; }
    const TunnelStatus& status() const { return status_; }
    const OptionalSubscription& subscription() const { return subscription_; }
    const ServerList& servers() const { return servers_; }
    bool busy() const { return busy_; }
    const OptionalText& message() const { return message_; }
    bool daemonInstalled() const { return daemonInstalled_; }
    bool loggingEnabled() const { return loggingEnabled_; }
    const EventList& events() const { return events_; }
    const DeviceList& devices() const { return devices_; }
    const SupportMessageList& supportMessages() const { return supportMessages_; }
    const OptionalText& notice() const { return notice_; }
    // Seconds still to wait before the server may be changed, counted down every second.
    qint64 changeRetryAfter() const;
    qint64 changeCooldown() const { return changeCooldown_; }
    const PingMap& pings() const { return pings_; }
    bool autostart() const { return autostart_; }
    const OptionalText& pendingLinkCode() const { return pendingLinkCode_; }
    const OptionalUpdate& update() const { return update_; }
    const OptionalFraction& updateProgress() const { return updateProgress_; }
    bool updateReady() const { return updateReady_; }
    const OptionalText& updateDismissed() const { return updateDismissed_; }
    bool mandatoryUpdatePending() const;
    bool showUpdateDialog() const;

    Log& log() { return *log_; }

    // ---- user actions: each returns at once; dropped while another action runs

    // Starts `action` on a worker unless an action is running. Its failure ends in `message`.
    void run(std::function<void()> action);

    void toggleConnection();
    void connect();
    void disconnect();
    // Lifts a kill-switch hold by disconnecting; the user's kill-switch setting stays.
    void unblock();
    void setKillSwitch(bool on);
    void setAdBlock(bool on);
    void setLogging(bool on);
    void changeServer(const ServerItem& server);
    void checkExitIP();
    void removeDaemon();
    void checkUpdate();
    void installUpdate();

    void setAutostart(bool on);
    void dismissUpdateDialog();
    void revealAppLog();

    // ---- flows outside the action guard

    // Disconnects before the application quits; `completion` runs exactly once, on the
    // model's thread (at once when there is nothing to disconnect).
    void shutdownTunnel(std::function<void()> completion);
    void measurePings();
    void startPolling();
    void stopPolling();
    void refreshStatus();
    void reload();
    void pollServerNotifications();
    void checkUpdateSilently();

    // The worker side of the service bootstrap, for flows that need a running service.
    // Blocking; call on a worker only.
    void ensureDaemon();
    void installDaemon();

    // ---- the account: typed inputs are trimmed (codes upper-cased, e-mails lower-cased); an
    // input left empty is ignored without starting an action

    void link(const std::string& code);
    void login(const std::string& email, const std::string& password);
    // Creates an account; the device stays as it is and the server's confirmation is shown.
    void registerAccount(const std::string& email, const std::string& password);
    void forgotPassword(const std::string& email);
    void resetPassword(const std::string& code, const std::string& newPassword);
    void linkEmail(const std::string& email, const std::string& password);
    void linkTelegram(const std::string& code);
    // A sign-in code from a deep link: used at once within 300 s of openBotForCode unless an
    // action runs; otherwise it waits in pendingLinkCode for the user.
    void handleDeepLinkCode(const std::string& code);
    void openBotForCode();
    // Signs out at once, also while an action runs: drops everything of the account and every
    // answer still on its way, then logs out on the server in the background.
    void unlink();

    // ---- support

    void sendReport(const std::string& text);
    void sendSupportMessage(const std::string& text);
    // Attaches the file at `path`; one above 20 MB is refused before it is read.
    void attachSupportFile(const std::string& path);
    // Saves the message's file as a new file in the downloads folder and shows it there.
    void saveSupportFile(const SupportMessageItem& item);
    // The last `maxBytes` bytes of the service's log; nothing when it is missing or the bytes
    // are not UTF-8.
    static std::optional<std::string> serviceLogTail(size_t maxBytes);

    // ---- devices, history and promo codes

    void revokeDevice(const DeviceItem& item);
    void revokeOtherDevices();
    void applyPromo(const std::string& code);

    // ---- account reads outside the action guard: nothing is asked while unlinked, and a
    // failure ends in `message` with the list kept

    // Fetches the messages after the last one shown.
    void loadSupportMessages();
    void loadDevices();
    void loadEvents();

signals:
    void linkedChanged();
    void statusChanged();
    void subscriptionChanged();
    void serversChanged();
    void busyChanged();
    void messageChanged();
    void daemonInstalledChanged();
    void loggingEnabledChanged();
    void eventsChanged();
    void devicesChanged();
    void supportMessagesChanged();
    void noticeChanged();
    void changeRetryAfterChanged();
    void changeCooldownChanged();
    void pingsChanged();
    void autostartChanged();
    void pendingLinkCodeChanged();
    void updateChanged();
    void updateProgressChanged();
    void updateReadyChanged();
    void updateDismissedChanged();
    void updateStateChanged();
    // An action started by run() has ended, successfully or not.
    void actionFinished();

private:
    struct Gone {}; // the model went away while a worker waited for it
    struct Lifeline {
        std::atomic<bool> closing{false};
        std::mutex lock;
        std::condition_variable idle;
        int workers = 0;
    };

    // Runs `body` on a worker thread of its own; a Gone thrown inside ends it quietly.
    void spawn(std::function<void()> body);

    // From a worker: queues `f` for the model's thread without waiting. The work travels in a
    // mutex-guarded inbox rather than inside Qt's event, so that what the worker wrote before
    // is visible to `f` by rules that also race-detection tools can follow. The event is posted
    // under the same lock, so that the drain's lock also orders the event's allocation here
    // before its deletion there: Qt's own queue lock is invisible to those tools.
    template <typename F> void post(F f) {
        std::lock_guard guard(inboxLock_);
        inbox_.emplace_back(std::move(f));
        QMetaObject::invokeMethod(this, "drainInbox", Qt::QueuedConnection);
    }
    Q_INVOKABLE void drainInbox();

    // From a worker: runs `f` on the model's thread and returns its result or rethrows its
    // error. Throws Gone once the model is being destroyed.
    template <typename F> std::invoke_result_t<F&> onMain(F f) {
        using Result = std::invoke_result_t<F&>;
        auto promise = std::make_shared<std::promise<Result>>();
        std::future<Result> future = promise->get_future();
        post([promise, &f] {
            try {
                if constexpr (std::is_void_v<Result>) {
                    f();
                    promise->set_value();
                } else {
                    promise->set_value(f());
                }
            } catch (...) {
                promise->set_exception(std::current_exception());
            }
        });
        while (future.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready)
            if (life_->closing) throw Gone{};
        return future.get();
    }

    void assertOwnThread() const;

    // Setters: assign and notify, always.
    void setLinked(bool value);
    void setStatus(const TunnelStatus& value);
    void setSubscription(OptionalSubscription value);
    void setServers(ServerList value);
    void setBusy(bool value);
    void setMessage(OptionalText value);
    void setDaemonInstalled(bool value);
    void setLoggingEnabled(bool value);
    void setNotice(OptionalText value);
    void setChangeRetryAfter(std::int64_t seconds);
    void setChangeCooldown(std::int64_t seconds);
    void setPing(std::int64_t serverId, int ms);
    void setAutostartFlag(bool value);
    void setUpdate(OptionalUpdate value);
    void setUpdateProgress(OptionalFraction value);
    void setUpdateReady(bool value);
    void setUpdateDismissed(OptionalText value);
    void setEvents(EventList value);
    void setDevices(DeviceList value);
    void setSupportMessages(SupportMessageList value);
    void setPendingLinkCode(OptionalText value);
    void clearPings();

    // Status answers carry a stamp: a poll's is taken when it leaves (its answer describes
    // that moment), an action's when its answer arrives. An answer stamped before the last
    // applied one is stale and dropped. Both return whether the status was applied.
    std::uint64_t statusStamp() { return ++statusClock_; }
    bool acceptStatus(std::uint64_t stamp, const TunnelStatus& value);
    // From a worker: an action's answer, always the newest.
    void applyAnswer(const TunnelStatus& value);

    bool daemonJobExists() const;
    std::string bearer(); // the stored token or the empty text; any thread
    void connectSequence(bool ensureService);
    void reconnectTo(); // steps 2–4 of the connect sequence
    void installUpdateSequence(const UpdateChecker::Info& info);
    // Every sign-out starts a new account generation. A flow of the account remembers the
    // generation it started in, and its results land only while that one lasts.
    template <typename F> void onAccount(std::uint64_t generation, F f) {
        onMain([&] {
            if (generation == accountGeneration_) f();
        });
    }
    // run() for an action of the account signed in now; after a sign-out its failure is
    // dropped along with its results.
    void runForAccount(std::function<void(std::uint64_t generation)> action);
    // An account action whose answer is a confirmation: `request` returns the text for
    // `notice`, then `then` runs on the model's thread.
    void runConfirmed(std::function<std::string()> request, std::function<void()> then = {});
    // An account read on a worker: `fetch` returns what to apply on the model's thread; its
    // failure is logged after `logPrefix` and shown.
    void readAccount(std::string logPrefix, std::function<std::function<void()>()> fetch);
    // From a worker: stores the token of a sign-in unless the account changed meanwhile.
    bool saveToken(std::uint64_t generation, const std::string& token);
    void signIn(std::uint64_t generation, const AuthResponse& answer);
    void appendSupportMessages(const SupportMessageList& page);

    // Single-flight runner of a periodic flow, skipped while `flag` is set: `body` runs on a
    // worker and returns what to apply on the model's thread (nothing when it failed).
    void periodic(bool& flag, std::function<std::function<void()>()> body);

    AppEnvironment env_;
    std::shared_ptr<Lifeline> life_ = std::make_shared<Lifeline>();

    bool linked_ = false;
    TunnelStatus status_;
    OptionalSubscription subscription_;
    ServerList servers_;
    bool busy_ = false;
    OptionalText message_;
    bool daemonInstalled_ = false;
    bool loggingEnabled_ = false;
    EventList events_;
    DeviceList devices_;
    SupportMessageList supportMessages_;
    OptionalText notice_;
    std::optional<Clock::TimePoint> changeAllowedAt_;
    std::int64_t changeCooldown_ = 0;
    PingMap pings_;
    bool autostart_ = false;
    OptionalText pendingLinkCode_;
    OptionalUpdate update_;
    OptionalFraction updateProgress_;
    bool updateReady_ = false;
    OptionalText updateDismissed_;

    std::unique_ptr<Log> log_;
    std::unique_ptr<Notifier> notifier_;
    std::mutex keychainLock_;
    std::mutex inboxLock_;
    std::vector<std::function<void()>> inbox_;
    std::atomic<std::uint64_t> accountGeneration_{0}; // changed on the model's thread only
    // A sign-out clears the keychain on a worker; a later sign-in's token waits for that clear,
    // so it cannot be wiped by it. Guarded by keychainLock_.
    std::uint64_t clearedGeneration_ = 0;
    std::condition_variable keychainCleared_;
    std::optional<Clock::TimePoint> linkRequestedAt_;

    std::unique_ptr<QTimer> pollTimer_;
    std::unique_ptr<QTimer> notificationsTimer_;
    std::unique_ptr<QTimer> updateTimer_;
    std::unique_ptr<QTimer> notificationsDelay_;
    QTimer cooldownTimer_;
    bool statusInFlight_ = false;
    bool notificationsInFlight_ = false;
    bool updateCheckInFlight_ = false;
    std::uint64_t statusClock_ = 0;
    std::uint64_t appliedStatus_ = 0;
    std::optional<Clock::TimePoint> lastRepair_;
};

} // namespace orvex

#include "AppModel.h"

#include <QThread>

#include <cmath>
#include <filesystem>
#include <thread>

#include "APIClient.h"
#include "Keychain.h"
#include "NotificationCentre.h"
#include "Notifier.h"
#include "Paths.h"
#include "ServiceClient.h"
#include "Texts.h"
#include "TokenStore.h"
#include "Version.h"
#include "Workspace.h"

namespace orvex {

namespace {

constexpr auto pollInterval = std::chrono::seconds(1);
constexpr auto notificationsInterval = std::chrono::seconds(60);
constexpr auto notificationsFirstDelay = std::chrono::seconds(15);
constexpr auto updateInterval = std::chrono::seconds(1800);

bool fileExists(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::exists(path, ignored);
}

std::string describe(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "неизвестная ошибка";
    }
}

} // namespace

AppModel::AppModel(AppEnvironment environment, QObject* parent)
    : QObject(parent), env_(std::move(environment)) {
    linked_ = TokenStore::load(*env_.keychain).has_value();
    daemonInstalled_ = daemonJobExists();
    autostart_ = env_.autostartEnabled();
    log_ = std::make_unique<Log>(env_.appLogDir, "app");
    notifier_ = std::make_unique<Notifier>(*env_.notifications, *log_, env_.noticesFile);
    setLoggingEnabled(Log::loadEnabled(env_.appLogDir));
    APIClient::setAppVersion(Version::current());

    cooldownTimer_.setInterval(std::chrono::duration_cast<std::chrono::milliseconds>(pollInterval));
    QObject::connect(&cooldownTimer_, &QTimer::timeout, this, [this] {
        if (changeRetryAfter() <= 0) {
            changeAllowedAt_.reset();
            cooldownTimer_.stop();
        }
        emit changeRetryAfterChanged();
    });
}

AppModel::~AppModel() {
    life_->closing = true;
    std::unique_lock lock(life_->lock);
    life_->idle.wait(lock, [this] { return life_->workers == 0; });
}

void AppModel::assertOwnThread() const { Q_ASSERT(QThread::currentThread() == thread()); }

// ---- setters

#define ORVEX_ASSIGN(member, signal)                                                                         \
    assertOwnThread();                                                                                       \
    member = std::move(value);                                                                               \
    emit signal()

void AppModel::setLinked(bool value) { ORVEX_ASSIGN(linked_, linkedChanged); }
void AppModel::setSubscription(OptionalSubscription value) {
    ORVEX_ASSIGN(subscription_, subscriptionChanged);
}
void AppModel::setServers(ServerList value) { ORVEX_ASSIGN(servers_, serversChanged); }
void AppModel::setBusy(bool value) { ORVEX_ASSIGN(busy_, busyChanged); }
void AppModel::setMessage(OptionalText value) { ORVEX_ASSIGN(message_, messageChanged); }
void AppModel::setDaemonInstalled(bool value) { ORVEX_ASSIGN(daemonInstalled_, daemonInstalledChanged); }
void AppModel::setLoggingEnabled(bool value) { ORVEX_ASSIGN(loggingEnabled_, loggingEnabledChanged); }
void AppModel::setNotice(OptionalText value) { ORVEX_ASSIGN(notice_, noticeChanged); }
void AppModel::setChangeCooldown(std::int64_t value) { ORVEX_ASSIGN(changeCooldown_, changeCooldownChanged); }
void AppModel::setAutostartFlag(bool value) { ORVEX_ASSIGN(autostart_, autostartChanged); }
void AppModel::setUpdateProgress(OptionalFraction value) {
    ORVEX_ASSIGN(updateProgress_, updateProgressChanged);
}
void AppModel::setUpdateDismissed(OptionalText value) {
    ORVEX_ASSIGN(updateDismissed_, updateDismissedChanged);
    emit updateStateChanged();
}
void AppModel::setUpdate(OptionalUpdate value) {
    ORVEX_ASSIGN(update_, updateChanged);
    emit updateStateChanged();
}
void AppModel::setUpdateReady(bool value) {
    ORVEX_ASSIGN(updateReady_, updateReadyChanged);
    emit updateStateChanged();
}
void AppModel::setEvents(EventList value) { ORVEX_ASSIGN(events_, eventsChanged); }
void AppModel::setDevices(DeviceList value) { ORVEX_ASSIGN(devices_, devicesChanged); }
void AppModel::setSupportMessages(SupportMessageList value) {
    ORVEX_ASSIGN(supportMessages_, supportMessagesChanged);
}
void AppModel::setPendingLinkCode(OptionalText value) {
    ORVEX_ASSIGN(pendingLinkCode_, pendingLinkCodeChanged);
}

#undef ORVEX_ASSIGN

void AppModel::setStatus(const TunnelStatus& value) {
    assertOwnThread();
    status_ = value;
    emit statusChanged();
}

void AppModel::setPing(std::int64_t serverId, int ms) {
    assertOwnThread();
    pings_[serverId] = ms;
    emit pingsChanged();
}

void AppModel::clearPings() {
    assertOwnThread();
    pings_.clear();
    emit pingsChanged();
}

qint64 AppModel::changeRetryAfter() const {
    if (!changeAllowedAt_) return 0;
    auto left = std::chrono::duration<double>(*changeAllowedAt_ - env_.clock->now()).count();
    return left > 0 ? static_cast<qint64>(std::ceil(left)) : 0;
}

void AppModel::setChangeRetryAfter(std::int64_t seconds) {
    assertOwnThread();
    if (seconds > 0) {
        changeAllowedAt_ = env_.clock->now() + std::chrono::seconds(seconds);
        cooldownTimer_.start();
    } else {
        changeAllowedAt_.reset();
        cooldownTimer_.stop();
    }
    emit changeRetryAfterChanged();
}

bool AppModel::mandatoryUpdatePending() const { return update_ && update_->mandatory && !updateReady_; }

bool AppModel::showUpdateDialog() const {
    return update_ && UpdateChecker::shouldShowDialog(update_->version, update_->mandatory, updateDismissed_);
}

// ---- status bookkeeping

bool AppModel::acceptStatus(std::uint64_t stamp, const TunnelStatus& value) {
    if (stamp < appliedStatus_) return false;
    appliedStatus_ = stamp;
    setStatus(value);
    return true;
}

void AppModel::applyAnswer(const TunnelStatus& value) {
    onMain([&] { acceptStatus(statusStamp(), value); });
}

bool AppModel::daemonJobExists() const { return fileExists(Paths::daemonPlist()); }

std::string AppModel::bearer() {
    std::lock_guard guard(keychainLock_);
    return TokenStore::load(*env_.keychain).value_or("");
}

// ---- workers and actions

void AppModel::spawn(std::function<void()> body) {
    {
        std::lock_guard guard(life_->lock);
        ++life_->workers;
    }
    std::thread([life = life_, body = std::move(body)] {
        try {
            body();
        } catch (...) {
            // Bodies report their own failures; what is left here is Gone, or a flow that
            // never fails having nothing to report.
        }
        std::lock_guard guard(life->lock);
        --life->workers;
        life->idle.notify_all();
    }).detach();
}

void AppModel::drainInbox() {
    std::vector<std::function<void()>> work;
    {
        std::lock_guard guard(inboxLock_);
        work.swap(inbox_);
    }
    for (auto& item : work) item();
}

void AppModel::run(std::function<void()> action) {
    assertOwnThread();
    if (busy_) return;
    setBusy(true);
    setMessage(std::nullopt);
    setNotice(std::nullopt);
    spawn([this, action = std::move(action)] {
        std::exception_ptr failure;
        try {
            action();
        } catch (const Gone&) {
            throw;
        } catch (...) {
            failure = std::current_exception();
        }
        onMain([&] {
            if (failure) {
                log_->write("действие не выполнено: " + describe(failure));
                setMessage(Texts::humanError(failure));
            }
            setBusy(false);
            emit actionFinished();
        });
    });
}

void AppModel::periodic(bool& flag, std::function<std::function<void()>()> body) {
    assertOwnThread();
    if (flag) return;
    flag = true;
    spawn([this, &flag, body = std::move(body)] {
        std::function<void()> apply;
        try {
            apply = body();
        } catch (const Gone&) {
            throw;
        } catch (...) {
        }
        // The result and the end of the flight land together, so the next tick sees both.
        onMain([&] {
            flag = false;
            if (apply) apply();
        });
    });
}

// ---- small operations

void AppModel::setAutostart(bool on) {
    auto setEnabled = env_.setAutostart;
    auto isEnabled = env_.autostartEnabled;
    // launchctl may take seconds; the interface must not wait for it.
    spawn([this, on, setEnabled, isEnabled] {
        OptionalText error = setEnabled(on);
        bool now = error ? isEnabled() : on;
        onMain([&] {
            if (error) setMessage(error);
            setAutostartFlag(now);
        });
    });
}

void AppModel::dismissUpdateDialog() {
    setUpdateDismissed(update_ ? OptionalText(update_->version) : std::nullopt);
}

void AppModel::revealAppLog() { env_.workspace->revealFile(log_->filePath()); }

// ---- polling

void AppModel::startPolling() {
    auto every = [this](std::unique_ptr<QTimer>& timer, std::chrono::seconds interval, auto tick) {
        timer = std::make_unique<QTimer>();
        timer->setInterval(std::chrono::duration_cast<std::chrono::milliseconds>(interval));
        QObject::connect(timer.get(), &QTimer::timeout, this, tick);
        timer->start();
    };
    every(pollTimer_, pollInterval, [this] { refreshStatus(); });
    refreshStatus();

    every(notificationsTimer_, notificationsInterval, [this] { pollServerNotifications(); });
    notificationsDelay_ = std::make_unique<QTimer>();
    notificationsDelay_->setSingleShot(true);
    QObject::connect(notificationsDelay_.get(), &QTimer::timeout, this,
                     [this] { pollServerNotifications(); });
    notificationsDelay_->start(
        std::chrono::duration_cast<std::chrono::milliseconds>(notificationsFirstDelay));

    every(updateTimer_, updateInterval, [this] {
        if (UpdateChecker::shouldPoll(updateProgress_.has_value(), updateReady_)) checkUpdateSilently();
    });
}

void AppModel::stopPolling() {
    pollTimer_.reset();
    notificationsTimer_.reset();
    notificationsDelay_.reset();
    updateTimer_.reset();
}

void AppModel::refreshStatus() {
    assertOwnThread();
    setDaemonInstalled(daemonJobExists());
    if (!daemonInstalled_) {
        acceptStatus(statusStamp(), TunnelStatus::neutral());
        return;
    }
    std::uint64_t stamp = statusStamp();
    auto service = env_.service;
    periodic(statusInFlight_, [this, stamp, service]() -> std::function<void()> {
        TunnelStatus answer;
        try {
            answer = service->status();
        } catch (...) {
            return nullptr; // a silent service keeps the last known status
        }
        return [this, stamp, answer] {
            if (acceptStatus(stamp, answer))
                notifier_->noteTunnel(answer.state == TunnelState::error, answer.killSwitchHold);
        };
    });
}

void AppModel::pollServerNotifications() {
    if (!linked_) return;
    notifier_->load();
    std::int64_t since = notifier_->queueSince();
    periodic(notificationsInFlight_, [this, since]() -> std::function<void()> {
        try {
            NotificationsResponse response = env_.api->notifications(bearer(), since);
            return [this, response] {
                notifier_->consumeQueue(response.notifications, response.lastId);
                if (!response.notifications.empty()) reload();
            };
        } catch (const std::exception& error) {
            log_->write(std::string("очередь уведомлений: ") + error.what());
            return nullptr;
        }
    });
}

void AppModel::reload() {
    assertOwnThread();
    if (!linked_) return;
    spawn([this, generation = accountGeneration_.load()] {
        try {
            SubscriptionResponse sub = env_.api->subscription(bearer());
            ServersResponse list = env_.api->servers(bearer());
            onAccount(generation, [&] {
                setSubscription(sub);
                setServers(list.servers);
                setChangeRetryAfter(list.changeRetryAfter);
                setChangeCooldown(list.changeCooldown);
                notifier_->noteExpiry(sub.daysLeft, sub.expiresAt);
            });
        } catch (const Gone&) {
            throw;
        } catch (...) {
            std::exception_ptr failure = std::current_exception();
            log_->write("reload: " + describe(failure));
            onAccount(generation, [&] { setMessage(Texts::humanError(failure)); });
        }
    });
}

void AppModel::checkUpdateSilently() {
    periodic(updateCheckInFlight_, [this]() -> std::function<void()> {
        std::optional<UpdateChecker::Info> info;
        try {
            info = UpdateChecker::check(Version::current(), true);
        } catch (...) {
            return nullptr; // a failed check keeps what is known, so a mandatory update stays mandatory
        }
        return [this, info] {
            setUpdate(info);
            notifier_->noteUpdate(info ? info->version : std::string());
        };
    });
}

} // namespace orvex

// The model's side of the tunnel: making sure the service runs, and every operation that
// connects, disconnects or changes a tunnel setting.
#include "AppModel.h"

#include "APIClient.h"
#include "APIError.h"
#include "DaemonClient.h"
#include "Paths.h"
#include "Platform.h"
#include "ServiceClient.h"
#include "Texts.h"
#include "Vless.h"

namespace orvex {

namespace {

constexpr auto registeredProbeWait = std::chrono::milliseconds(500);
constexpr int registeredProbes = 20;
constexpr auto repairThrottle = std::chrono::seconds(600);
constexpr auto installedProbeWait = std::chrono::milliseconds(250);
constexpr int installedProbes = 40;
constexpr int pingTimeoutMs = 2000;

const std::string firstInstallNotice =
    "Устанавливаем фоновую службу — система попросит пароль администратора. Это один раз.";
const std::string repairNotice =
    "Служба не отвечает — переустанавливаем. Система попросит пароль администратора.";

std::string serviceLogHint() { return Paths::daemonLogDir() + "/service.log"; }

bool answers(ServiceClient& service) {
    try {
        return service.isRunning();
    } catch (...) {
        return false;
    }
}

} // namespace

// ---- the service bootstrap

void AppModel::ensureDaemon() {
    ServiceClient& service = *env_.service;
    if (answers(service)) return;

    std::string ownNotice;
    if (!daemonJobExists()) {
        ownNotice = firstInstallNotice;
    } else {
        for (int probe = 0; probe < registeredProbes; ++probe) {
            env_.clock->sleep(registeredProbeWait);
            if (answers(service)) return;
        }
        Clock::TimePoint now = env_.clock->now();
        bool throttled = onMain([&] { return lastRepair_ && now - *lastRepair_ < repairThrottle; });
        if (throttled)
            throw DaemonError::refused("Служба не отвечает, и переустановка не помогла. Посмотрите " +
                                       serviceLogHint() +
                                       " — приложение больше не будет спрашивать пароль само.");
        onMain([&] { lastRepair_ = now; });
        log_->write("служба зарегистрирована, но молчит 10 с — переустанавливаем");
        ownNotice = repairNotice;
    }

    onMain([&] { setNotice(ownNotice); });
    // Another flow may have put up a notice of its own meanwhile; that one stays.
    auto dropOwnNotice = [&] {
        onMain([&] {
            if (notice_ == ownNotice) setNotice(std::nullopt);
        });
    };
    try {
        installDaemon();
    } catch (const Gone&) {
        throw;
    } catch (...) {
        dropOwnNotice();
        throw;
    }
    onMain([&] { lastRepair_.reset(); });
    dropOwnNotice();
}

void AppModel::installDaemon() {
    env_.elevateSelf("-install-service");
    for (int probe = 0; probe < installedProbes; ++probe) {
        if (answers(*env_.service)) {
            onMain([&] { setDaemonInstalled(true); });
            return;
        }
        env_.clock->sleep(installedProbeWait);
    }
    throw DaemonError::refused("Служба установлена, но не запустилась за 10 секунд. Посмотрите " +
                               serviceLogHint() +
                               " или выполните в терминале: " + Platform::current().serviceStatusCommand);
}

void AppModel::removeDaemon() {
    run([this] {
        env_.elevateSelf("-uninstall-service");
        onMain([&] {
            setDaemonInstalled(false);
            acceptStatus(statusStamp(), TunnelStatus::neutral());
        });
    });
}

// ---- connecting

void AppModel::reconnectTo() {
    ConfigResponse config = env_.api->config(bearer());
    std::string raw = Vless::decodeSubscription(config.subscription);
    applyAnswer(env_.service->connect(raw, config.serverName));
}

void AppModel::connectSequence(bool ensureService) {
    if (ensureService) ensureDaemon();
    reconnectTo();
}

void AppModel::connect() {
    if (mandatoryUpdatePending()) {
        setMessage(std::string(Texts::mandatoryUpdateBlocksConnect));
        return;
    }
    run([this] { connectSequence(true); });
}

void AppModel::disconnect() {
    run([this] { applyAnswer(env_.service->disconnect()); });
}

void AppModel::unblock() { disconnect(); }

void AppModel::toggleConnection() {
    bool up = status_.state == TunnelState::connected || status_.state == TunnelState::connecting;
    if (!up && mandatoryUpdatePending()) {
        setMessage(std::string(Texts::mandatoryUpdateBlocksConnect));
        return;
    }
    if (busy_) return; // the press is dropped, so the widget must not show it as pending
    if (env_.widgetPending) env_.widgetPending(up ? "disconnect" : "connect");
    if (up)
        disconnect();
    else
        run([this] { connectSequence(true); });
}

void AppModel::shutdownTunnel(std::function<void()> completion) {
    if (status_.state != TunnelState::connected && status_.state != TunnelState::connecting) {
        completion();
        return;
    }
    auto service = env_.service;
    spawn([this, service, completion = std::move(completion)] {
        try {
            applyAnswer(service->disconnect());
        } catch (const Gone&) {
            throw;
        } catch (...) {
            // Quitting goes on: the service keeps its own kill-switch rules either way.
        }
        onMain(completion);
    });
}

// ---- tunnel settings

void AppModel::setKillSwitch(bool on) {
    run([this, on] { applyAnswer(env_.service->setKillSwitch(on)); });
}

void AppModel::setAdBlock(bool on) {
    run([this, on] {
        DaemonClient::AdBlockResult result = env_.service->setAdBlock(on);
        applyAnswer(result.status);
        if (!result.needReconnect) return;
        onMain([&] { setNotice(std::string("Переподключаемся, чтобы применить настройку DNS.")); });
        // The configuration comes first: an unreachable account server leaves the tunnel up.
        ConfigResponse config = env_.api->config(bearer());
        std::string raw = Vless::decodeSubscription(config.subscription);
        env_.service->disconnect();
        applyAnswer(env_.service->connect(raw, config.serverName));
        onMain([&] { setNotice(std::nullopt); });
    });
}

void AppModel::setLogging(bool on) {
    // The application log and the service's switch together or not at all.
    if (busy_) return;
    setLoggingEnabled(on);
    log_->setEnabled(on);
    run([this, on] {
        try {
            env_.service->setLogging(on);
        } catch (const std::exception& error) {
            throw DaemonError::refused("Логи приложения переключены, но служба не ответила: " +
                                       Texts::humanError(error));
        }
    });
}

void AppModel::changeServer(const ServerItem& server) {
    if (std::int64_t wait = changeRetryAfter(); wait >= 1) {
        setMessage(Texts::serverChangeWait(wait));
        return;
    }
    run([this, id = server.id] {
        try {
            env_.api->changeServer(bearer(), id);
        } catch (const APIError& error) {
            if (error.retryAfter < 1) throw;
            onMain([&] {
                setChangeRetryAfter(error.retryAfter);
                setMessage(Texts::serverChangeWait(error.retryAfter));
            });
            return;
        }
        bool connected = onMain([&] { return status_.state == TunnelState::connected; });
        if (connected) {
            env_.service->disconnect();
            reconnectTo();
        }
        onMain([&] { reload(); });
    });
}

void AppModel::checkExitIP() {
    run([this] { applyAnswer(env_.service->checkInternet()); });
}

void AppModel::measurePings() {
    ServerList servers = servers_;
    if (servers.empty()) return;
    auto ping = env_.ping;
    spawn([this, servers, ping] {
        for (const ServerItem& server : servers) {
            int ms = -1;
            try {
                ms = ping(server.host, pingTimeoutMs);
            } catch (...) {
            }
            onMain([&] { setPing(server.id, ms); });
        }
    });
}

} // namespace orvex

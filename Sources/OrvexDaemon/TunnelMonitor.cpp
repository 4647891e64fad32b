#include "Tunnel.h"

#include "Log.h"
#include "TunnelError.h"
#include "TunnelSettings.h"

#include <thread>

// The tunnel's background life: the health monitor, the reconnects it starts, and the kill
// switch that holds traffic when they give up.
namespace orvex {

namespace {

constexpr const char* blockingProxy = "socks5://127.0.0.1:1";
constexpr int monitorFailuresBeforeReconnect = 2;

std::string yesNo(bool value) { return value ? "true" : "false"; }

} // namespace

void Tunnel::startHealthMonitor(std::int64_t generation) {
    log_.write("наблюдение: запущено (поколение " + std::to_string(generation) + ")");
    std::thread(&Tunnel::monitor, weak_from_this(), pacer_, generation).detach();
}

void Tunnel::monitor(std::weak_ptr<Tunnel> weak, std::shared_ptr<Pacer> pacer, std::int64_t generation) {
    Timing timing;
    {
        auto self = weak.lock();
        if (!self) return;
        timing = self->environment_.timing;
    }
    // Asleep, the monitor holds nothing of the tunnel; a raised generation wakes it early and
    // the check that follows ends it.
    pacer->sleep(timing.firstCheck);
    bool failedBefore = false;
    int counter = 1;
    for (;;) {
        Verdict verdict;
        {
            auto self = weak.lock();
            if (!self) return;
            verdict = self->check(generation, failedBefore, counter);
        }
        switch (verdict) {
        case Verdict::healthy:
            failedBefore = false;
            counter = 1;
            break;
        case Verdict::failedOnce:
            failedBefore = true;
            counter = monitorFailuresBeforeReconnect;
            break;
        case Verdict::networkChanged:
            reconnectNow(weak, generation);
            return;
        case Verdict::engineStopped:
            attemptReconnect(weak, generation, 0);
            return;
        case Verdict::ended:
            return;
        }
        pacer->sleep(timing.checkInterval);
    }
}

Tunnel::Verdict Tunnel::check(std::int64_t generation, bool failedBefore, int counter) {
    std::int64_t port = 0;
    bool processes;
    std::string gateway;
    std::string iface;
    bool current;
    {
        std::lock_guard guard(lock_);
        current = connectionGeneration_ == generation && status_.state == TunnelState::connected;
        if (socks_) port = socks_->port;
        // No bridge runs where the engine takes the traffic itself; where one runs, it is in
        // its slot for as long as the tunnel is connected.
        processes = xray_ && xray_->running() && (!tun2socks_ || tun2socks_->running());
        gateway = connectedGateway_;
        iface = connectedIface_;
    }
    if (!current) {
        log_.write("наблюдение: поколение сменилось, выхожу");
        return Verdict::ended;
    }

    auto route = NetworkChanger::currentDefaultRoute(environment_.runner);
    if (route && !gateway.empty() && (route->gateway != gateway || route->iface != iface)) {
        log_.write("наблюдение: сменилась сеть по умолчанию, переподключаюсь");
        return Verdict::networkChanged;
    }

    bool portOK = portAnswers(port);
    if (portOK && processes) return Verdict::healthy;
    log_.write("наблюдение: движок не отвечает (" + std::to_string(counter) + "/" +
               std::to_string(monitorFailuresBeforeReconnect) + "), порт=" + yesNo(portOK) +
               " процессы=" + yesNo(processes));
    if (!failedBefore) return Verdict::failedOnce;
    log_.write("наблюдение: движок остановился, пробую переподключиться");
    return Verdict::engineStopped;
}

std::optional<Tunnel::LastLink> Tunnel::beginReconnect(std::int64_t generation) {
    std::lock_guard operation(operation_);
    LastLink link;
    {
        std::lock_guard guard(lock_);
        if (connectionGeneration_ != generation) return std::nullopt;
        link = {lastVless_, lastServer_};
    }
    stopKeepingHold();
    setStatus(TunnelState::connecting, link.server, "");
    return link;
}

void Tunnel::reconnectNow(const std::weak_ptr<Tunnel>& weak, std::int64_t generation) {
    auto self = weak.lock();
    if (!self) return;
    auto link = self->beginReconnect(generation);
    if (!link) return;
    try {
        if (self->connectFor(link->vless, link->server, generation))
            self->log_.write("переподключение после смены сети: удалось");
        return;
    } catch (...) {
        self->log_.write("переподключение после смены сети не удалось, пробую с паузами");
    }
    self.reset();
    attemptReconnect(weak, generation, 0);
}

void Tunnel::attemptReconnect(const std::weak_ptr<Tunnel>& weak, std::int64_t generation, int attempt) {
    for (;; ++attempt) {
        auto self = weak.lock();
        if (!self) return;
        const auto& pauses = self->environment_.timing.reconnectPauses;

        if (attempt >= static_cast<int>(pauses.size())) {
            std::lock_guard operation(self->operation_);
            // A disconnect during the last attempt has the final word.
            if (self->generation() != generation) return;
            self->log_.write("переподключение: попытки исчерпаны");
            self->stopKeepingHold();
            if (!self->engageKillSwitch()) self->setStatus(TunnelState::error, "", "Соединение потеряно");
            return;
        }

        auto link = self->beginReconnect(generation);
        if (!link) return;
        Millis pause = pauses[static_cast<size_t>(attempt)];
        self->log_.write("переподключение: попытка " + std::to_string(attempt + 1) + " через " +
                         std::to_string(std::chrono::duration_cast<std::chrono::seconds>(pause).count()) +
                         " с");

        auto pacer = self->pacer_;
        self.reset();
        // Cut short only by a new generation or the tunnel's end: nothing more to do then.
        if (!pacer->sleep(pause)) return;

        self = weak.lock();
        if (!self || self->generation() != generation) return;
        try {
            if (self->connectFor(link->vless, link->server, generation))
                self->log_.write("переподключение: удалось");
            return;
        } catch (...) {
            // The connect has logged its reason; the next attempt follows at once.
        }
    }
}

bool Tunnel::engageKillSwitch() {
    {
        std::lock_guard guard(lock_);
        if (!killSwitchEnabled_) return false;
    }
    log_.write("kill switch: поднимаю блокировку трафика");
    try {
        // A hold kept through the reconnects is taken over, not laid a second time beside it.
        auto changer =
            changer_ && changer_->transparent()
                ? std::move(changer_)
                : NetworkChanger::forPlatform(log_, environment_.runner, environment_.upInterfaces);
        std::string name;
        if (!changer->transparent()) {
            name = allocTunName(environment_.upInterfaces());
            if (!startBridge(name, blockingProxy))
                throw TunnelError::step("не удалось поднять интерфейс для блокировки");
        }
        changer->holdTraffic(name);
        changer_ = std::move(changer);
        setStatus(TunnelState::disconnected, "", "Трафик заблокирован: туннель не поднят", true);
        log_.write("kill switch: блокировка установлена" + (name.empty() ? std::string() : " на " + name));
        return true;
    } catch (const std::exception& error) {
        log_.write(std::string("kill switch: ЗАБЛОКИРОВАТЬ НЕ УДАЛОСЬ — трафик идёт напрямую: ") +
                   error.what());
        stopProcesses();
        return false;
    }
}

void Tunnel::setKillSwitch(bool enabled) {
    {
        std::lock_guard guard(lock_);
        killSwitchEnabled_ = enabled;
    }
    TunnelSettings::saveKillSwitch(enabled);
    log_.write(std::string("kill switch: ") + (enabled ? "включён" : "выключен"));
    std::lock_guard guard(lock_);
    status_.killSwitchEnabled = killSwitchEnabled_;
    status_.adBlockEnabled = adBlockEnabled_;
}

} // namespace orvex

#include "WidgetRules.h"

#include "WidgetTheme.h"

namespace orvex::widget::WidgetRules {

namespace {

constexpr double pendingLifetime = 20;
constexpr double updateLifetime = 300;

} // namespace

bool updateRequired(const Snapshot& snapshot, TimePoint now) {
    return snapshot.blocked && snapshot.alive != false && snapshot.age(now) < updateLifetime;
}

bool pendingActive(const Snapshot& snapshot, TimePoint now) {
    return snapshot.pending.has_value() && snapshot.age(now) < pendingLifetime;
}

std::string title(const Snapshot& snapshot, TimePoint now) {
    if (updateRequired(snapshot, now)) return "Нужно обновление";
    if (pendingActive(snapshot, now)) {
        if (snapshot.pending == "disconnect") return "Отключение…";
        if (snapshot.pending == "connect") return "Подключение…";
    }
    if (snapshot.state == "connected") return "Защищено";
    if (snapshot.state == "connecting") return "Подключение…";
    if (snapshot.state == "error") return "Ошибка";
    if (snapshot.state == "disconnected") return "Отключено";
    return "Нет данных";
}

std::string subtitle(const Snapshot& snapshot, TimePoint now) {
    if (updateRequired(snapshot, now)) return "Откройте приложение";
    if (snapshot.state == "unknown") return "Откройте ORVEX";
    return snapshot.server;
}

std::string buttonTitle(const Snapshot& snapshot, TimePoint now) {
    if (pendingActive(snapshot, now)) return snapshot.pending == "disconnect" ? "Отключить" : "Подключить";
    return snapshot.state == "connected" || snapshot.state == "connecting" ? "Отключить" : "Подключить";
}

QColor dotColour(const Snapshot& snapshot, TimePoint now) {
    if (updateRequired(snapshot, now) || pendingActive(snapshot, now)) return WidgetTheme::warn();
    if (snapshot.state == "connected") return WidgetTheme::ok();
    if (snapshot.state == "connecting") return WidgetTheme::warn();
    if (snapshot.state == "error") return WidgetTheme::error();
    return WidgetTheme::onLow();
}

std::string tapURL(const Snapshot& snapshot, TimePoint now) {
    return updateRequired(snapshot, now) ? "orvexvpn://update" : "orvexvpn://toggle";
}

std::chrono::seconds refreshAfter(const Snapshot& snapshot) {
    return snapshot.pending ? std::chrono::seconds(20) : std::chrono::seconds(60);
}

} // namespace orvex::widget::WidgetRules

#include "Notices.h"

#include <algorithm>
#include <functional>

namespace orvex::Notices {

ExpiryDecision expiry(std::int64_t daysLeft, const std::string& expiresAt, const ExpiryState& state) {
    if (expiresAt.empty() || daysLeft < 0) return {false, 0, state};
    ExpiryState current = state.expiresAt == expiresAt ? state : ExpiryState{expiresAt, std::nullopt};

    auto thresholds = expiryThresholds;
    std::ranges::sort(thresholds, std::greater<>());
    std::optional<int> picked;
    for (int threshold : thresholds)
        if (threshold >= daysLeft) picked = threshold;
    if (!picked) return {false, 0, current};
    // A reminder for this or a later threshold has been shown already.
    if (current.notified && *picked >= *current.notified) return {false, 0, current};
    return {true, *picked, {expiresAt, *picked}};
}

Notice expiryText(int threshold) {
    switch (threshold) {
    case 0:
        return {"Подписка ORVEX заканчивается сегодня",
                "Продлите её в Telegram-боте, иначе VPN перестанет подключаться."};
    case 1:
        return {"Подписка ORVEX заканчивается завтра",
                "Продлите её в Telegram-боте, чтобы не потерять доступ."};
    default:
        return {"Подписка ORVEX скоро закончится",
                "Осталось несколько дней. Продлить можно в Telegram-боте."};
    }
}

TunnelEvent tunnel(TunnelSnapshot prev, TunnelSnapshot cur) {
    if (cur.killSwitchHold && !prev.killSwitchHold) return TunnelEvent::killSwitch;
    if (cur.error && !cur.killSwitchHold && !prev.error) return TunnelEvent::unprotected;
    return TunnelEvent::none;
}

std::optional<Notice> tunnelText(TunnelEvent event) {
    switch (event) {
    case TunnelEvent::killSwitch:
        return Notice{"Трафик заблокирован",
                      "Соединение с VPN потеряно. Интернет отключён, чтобы трафик не ушёл в обход."};
    case TunnelEvent::unprotected:
        return Notice{"Вы не защищены", "Не удалось восстановить подключение к VPN. Трафик идёт напрямую."};
    case TunnelEvent::none:
        break;
    }
    return std::nullopt;
}

bool shouldAnnounceUpdate(const std::string& version, const std::optional<std::string>& seen) {
    return !version.empty() && seen != version;
}

Notice updateText(const std::string& version) {
    return {"Вышло обновление ORVEX",
            "Доступна версия " + version + ". Откройте приложение, чтобы установить."};
}

QueuePick pickQueue(const std::vector<std::int64_t>& ids, const QueueState& state) {
    if (ids.empty()) return {0, state};
    return {ids.size() - std::min(ids.size(), queueMaxShow), {ids.back()}};
}

} // namespace orvex::Notices

#include "ScreenTexts.h"

#include <charconv>

namespace orvex::ScreenTexts {

std::string statusLine(const TunnelStatus& status) {
    if (status.killSwitchHold) return "Трафик заблокирован";
    switch (status.state) {
    case TunnelState::connecting:
        return "Подключение…";
    case TunnelState::connected:
        return "Защищено";
    case TunnelState::error:
        return "Ошибка подключения";
    case TunnelState::disconnected:
        break;
    }
    return "Не подключено";
}

std::string connectCaption(TunnelState state) {
    if (state == TunnelState::connected) return "Отключиться";
    if (state == TunnelState::connecting) return "Подключение…";
    return "Подключиться";
}

std::string connectSubtitle(TunnelState state) {
    if (state == TunnelState::connected) return "Трафик зашифрован";
    if (state == TunnelState::connecting) return "Поднимаем туннель";
    return "Трафик не зашифрован";
}

std::string days(std::int64_t count) {
    std::int64_t lastTwo = (count < 0 ? -count : count) % 100;
    std::int64_t last = lastTwo % 10;
    const char* word = "дней";
    if (lastTwo < 11 || lastTwo > 14) {
        if (last == 1)
            word = "день";
        else if (last >= 2 && last <= 4)
            word = "дня";
    }
    return std::to_string(count) + " " + word;
}

namespace {

// Fixed-point with a dot whatever the process's locale, like the server's own figures.
std::string fixed(double value, int decimals) {
    char text[64];
    auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals).ptr;
    return std::string(text, end);
}

} // namespace

std::string traffic(double usedGb, std::optional<double> limitGb) {
    if (!limitGb) return fixed(usedGb, 1) + " ГБ";
    return fixed(usedGb, 1) + " из " + fixed(*limitGb, 0) + " ГБ";
}

std::string ping(std::optional<int> milliseconds) {
    if (!milliseconds) return "";
    if (*milliseconds < 0) return "—";
    return std::to_string(*milliseconds) + " мс";
}

} // namespace orvex::ScreenTexts

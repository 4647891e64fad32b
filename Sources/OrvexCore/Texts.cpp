#include "Texts.h"

#include <cstdio>
#include <ctime>
#include <map>

#include "APIError.h"
#include "Error.h"
#include "Text.h"
#include "Unicode.h"

namespace orvex::Texts {
namespace {

const std::string unknownError = "Неизвестная ошибка.";

std::string apiErrorText(const APIError& error) {
    if (error.status == 401) return "Сессия истекла — привяжите устройство заново.";
    if (error.status == 403) return "Доступ запрещён. Напишите в поддержку, если это ошибка.";
    if (error.status == 404) return "Функция пока недоступна.";
    if (error.status == 429) return "Слишком много попыток. Подождите немного и повторите.";
    if (error.status >= 500) return "Сервер временно недоступен. Попробуйте позже.";
    if (!error.detail.empty()) return stripEmoji(error.detail);
    return "Не удалось выполнить запрос. Попробуйте позже.";
}

// Errors that are not ORVEX's own carry the library's or the platform's English wording;
// the transport's words for a missing network or a silent server become one of two lines.
std::string fromDescription(const std::string& description) {
    if (description.empty()) return unknownError;
    // Lowered without the process locale, which may not know Cyrillic.
    std::string lower = Unicode::lowerLatinAndCyrillic(description);
    for (const char* word : {"offline", "not connect", "сет", "internet"})
        if (lower.find(word) != std::string::npos)
            return "Нет соединения с интернетом. Проверьте сеть и попробуйте снова.";
    for (const char* word : {"timed out", "time out"})
        if (lower.find(word) != std::string::npos)
            return "Сервер не отвечает. Проверьте интернет или попробуйте позже.";
    return description;
}

// Reads exactly `count` decimal digits.
bool digits(std::string_view text, size_t& pos, size_t count, int& value) {
    if (pos + count > text.size()) return false;
    value = 0;
    for (size_t i = 0; i < count; ++i) {
        char c = text[pos + i];
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    pos += count;
    return true;
}

bool literal(std::string_view text, size_t& pos, char expected) {
    if (pos >= text.size() || text[pos] != expected) return false;
    ++pos;
    return true;
}

// The zone designator: "Z" or a signed offset with a colon; its value in minutes east of UTC.
bool zone(std::string_view text, size_t& pos, int& minutesEast) {
    if (literal(text, pos, 'Z')) {
        minutesEast = 0;
        return true;
    }
    if (pos >= text.size() || (text[pos] != '+' && text[pos] != '-')) return false;
    int sign = text[pos] == '-' ? -1 : 1;
    ++pos;
    int hours = 0;
    int minutes = 0;
    if (!digits(text, pos, 2, hours) || !literal(text, pos, ':') || !digits(text, pos, 2, minutes))
        return false;
    if (hours > 23 || minutes > 59) return false;
    minutesEast = sign * (hours * 60 + minutes);
    return true;
}

bool isDropped(char32_t c) {
    return (c >= 0x2B00 && c <= 0x2BFF) || (c >= 0x1F1E6 && c <= 0x1F1FF) || (c >= 0x1F300 && c <= 0x1FAFF) ||
           (c >= 0x2600 && c <= 0x27BF) || c == 0xFE0F || c == 0x200D;
}

} // namespace

std::string humanError(const std::exception& error) {
    if (auto api = dynamic_cast<const APIError*>(&error)) return apiErrorText(*api);
    if (dynamic_cast<const Error*>(&error) != nullptr) return error.what();
    return fromDescription(error.what());
}

std::string humanError(const std::exception_ptr& error) {
    if (!error) return unknownError;
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& caught) {
        return humanError(caught);
    } catch (...) {
        return unknownError;
    }
}

std::string serverChangeWait(std::int64_t seconds) {
    // Whole minutes rounded up, in integers so that no value can overflow a conversion.
    std::int64_t minutes = seconds <= 0 ? 1 : seconds / 60 + (seconds % 60 != 0 ? 1 : 0);
    return "Сменить сервер можно снова через " + std::to_string(minutes) + " мин.";
}

std::string eventLabel(const std::string& eventType) {
    static const std::map<std::string, std::string> labels = {
        {"vpn_connected", "Подключение"},
        {"vpn_disconnected", "Отключение"},
        {"vpn_error", "Ошибка"},
        {"config_refreshed", "Обновление конфига"},
        {"server_change_requested", "Открыт бот для смены сервера"},
        {"server_changed", "Сервер изменён"},
        {"support_report_sent", "Отчёт в поддержку"},
        {"promo_redeemed", "Промокод активирован"},
        {"reconnect_failed", "Не удалось восстановить соединение"},
        {"subscription_activated", "Подписка активирована"},
        {"subscription_renewed", "Подписка продлена"},
        {"payment_refunded", "Stars возвращены"},
        {"support_report_received", "Обращение в поддержку получено"},
        {"referral_bonus", "Начислен бонус за реферала"},
        {"gift_sent", "Подарок отправлен другу"},
        {"gift_claimed", "Подарок получен"},
    };
    auto found = labels.find(eventType);
    return found == labels.end() ? eventType : found->second;
}

std::string platformLabel(const std::string& platform) {
    static const std::map<std::string, std::string> labels = {
        {"android", "Android"},
        {"windows", "Windows"},
        {"macos", "macOS"},
        {"ios", "iOS"},
    };
    auto found = labels.find(platform);
    return found == labels.end() ? platform : found->second;
}

std::optional<Instant> parseISO(std::string_view text) {
    using namespace std::chrono;
    size_t pos = 0;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!digits(text, pos, 4, year) || !literal(text, pos, '-') || !digits(text, pos, 2, month) ||
        !literal(text, pos, '-') || !digits(text, pos, 2, day) || !literal(text, pos, 'T') ||
        !digits(text, pos, 2, hour) || !literal(text, pos, ':') || !digits(text, pos, 2, minute) ||
        !literal(text, pos, ':') || !digits(text, pos, 2, second))
        return std::nullopt;
    year_month_day date{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                        std::chrono::day{static_cast<unsigned>(day)}};
    if (!date.ok() || hour > 23 || minute > 59 || second > 59) return std::nullopt;

    microseconds fraction{0};
    int minutesEast = 0;
    if (pos < text.size()) {
        if (literal(text, pos, '.')) {
            // Any number of digits; those beyond microseconds cannot change the result.
            size_t first = pos;
            std::int64_t micros = 0;
            std::int64_t scale = 100000;
            for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos, scale /= 10)
                if (scale > 0) micros += (text[pos] - '0') * scale;
            if (pos == first) return std::nullopt;
            fraction = microseconds{micros};
        }
        // A fraction needs a zone after it; a zone-less time stamp has no fraction.
        if (!zone(text, pos, minutesEast) || pos != text.size()) return std::nullopt;
    }
    return Instant{sys_days{date} + hours{hour} + minutes{minute} + seconds{second} + fraction -
                   minutes{minutesEast}};
}

std::string stamp(const std::string& text) {
    auto instant = parseISO(text);
    if (!instant) return text;
    auto time = static_cast<std::time_t>(
        std::chrono::floor<std::chrono::seconds>(*instant).time_since_epoch().count());
    // The zone may have changed since the last call (TZ in tests, a move across zones).
    tzset();
    std::tm local{};
    if (localtime_r(&time, &local) == nullptr) return text;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02d.%02d в %02d:%02d", local.tm_mday, local.tm_mon + 1,
                  local.tm_hour, local.tm_min);
    return buffer;
}

std::string stripEmoji(std::string_view text) {
    // A stray byte becomes the replacement character, as it would when the bytes were decoded
    // as text; kept raw, it could join bytes around a dropped scalar into a new pictograph.
    std::u32string kept;
    for (char32_t c : Unicode::decodeUTF8(text))
        if (!isDropped(c)) kept += c;
    std::string encoded = Unicode::encodeUTF8(kept);
    std::string collapsed;
    collapsed.reserve(encoded.size());
    for (char c : encoded)
        if (c != ' ' || collapsed.empty() || collapsed.back() != ' ') collapsed += c;
    return Text::trim(collapsed);
}

} // namespace orvex::Texts

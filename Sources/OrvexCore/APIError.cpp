#include "APIError.h"

#include <limits>

#include "Text.h"

namespace orvex {

APIError::APIError(int status, std::string detail, std::int64_t retryAfter)
    : Error(describe(status, detail)), status(status), detail(std::move(detail)), retryAfter(retryAfter) {}

std::string APIError::describe(int status, const std::string& detail) {
    if (!detail.empty()) return detail;
    return "Сервер вернул ошибку " + std::to_string(status);
}

std::int64_t APIError::parseRetryAfter(std::optional<std::string_view> value) {
    if (!value) return 0;
    std::string text = Text::trimSpacesAndTabs(*value);
    if (text.empty()) return 0;
    size_t position = 0;
    bool negative = false;
    if (text[0] == '+' || text[0] == '-') {
        negative = text[0] == '-';
        position = 1;
    }
    if (position == text.size()) return 0;
    constexpr std::int64_t limit = std::numeric_limits<std::int64_t>::max();
    std::int64_t result = 0;
    for (; position < text.size(); ++position) {
        char c = text[position];
        if (c < '0' || c > '9') return 0;
        int digit = c - '0';
        // Accumulating the magnitude as positive loses only INT64_MIN itself, which is
        // negative and maps to 0 anyway.
        if (result > (limit - digit) / 10) return 0;
        result = result * 10 + digit;
    }
    return negative ? 0 : result;
}

} // namespace orvex

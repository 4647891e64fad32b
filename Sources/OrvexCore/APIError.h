#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "Error.h"

namespace orvex {

// An answer from the account server other than 2xx, no answer at all (status 0), or an
// attachment refused before sending (status 413). what() is the text the user may see.
class APIError : public Error {
public:
    APIError(int status, std::string detail, std::int64_t retryAfter = 0);

    int status;
    std::string detail;
    std::int64_t retryAfter; // seconds; 0 when the server gave no usable Retry-After

    // The server's own explanation when it gave one, else a generic line with the status.
    static std::string describe(int status, const std::string& detail);

    // Seconds from a Retry-After header value. Only a positive decimal number counts; the
    // date form, garbage, zero, negatives and 64-bit overflow all mean "no hint" (0).
    static std::int64_t parseRetryAfter(std::optional<std::string_view> value);
};

} // namespace orvex

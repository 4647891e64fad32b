#pragma once

#include <optional>
#include <string>
#include <string_view>

// Links of ORVEX's own URL scheme that carry a one-time sign-in code from the provider's bot:
// orvexvpn://code/CODE, orvexvpn://code?c=CODE and orvexvpn://code?code=CODE.
namespace orvex::DeepLink {

inline constexpr std::string_view scheme = "orvexvpn";

// The sign-in code the link carries, or nothing when it is not such a link.
std::optional<std::string> code(const std::string& url);

// The code with white space trimmed; nothing when no code is left.
std::optional<std::string> normalize(std::string_view text);

} // namespace orvex::DeepLink

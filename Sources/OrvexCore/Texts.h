#pragma once

#include <chrono>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

// The user-facing Russian lines and the small text helpers the screens share.
namespace orvex::Texts {

inline constexpr std::string_view mandatoryUpdateBlocksConnect =
    "Обновите приложение — эта версия больше не поддерживается сервером.";
inline constexpr std::string_view mandatoryUpdateShort = "Нужно обновление";
inline constexpr std::string_view serverChangeHint =
    "Между сменами сервера нужен короткий перерыв. Нажмите на другой сервер, чтобы переключиться.";

// The one line the user sees for a caught error. Used inside catch blocks:
// humanError(std::current_exception()) or humanError(e).
std::string humanError(const std::exception& error);
std::string humanError(const std::exception_ptr& error);

// "Сменить сервер можно снова через N мин." with N whole minutes, rounded up, at least 1.
std::string serverChangeWait(std::int64_t seconds);

std::string eventLabel(const std::string& eventType);
std::string platformLabel(const std::string& platform);

// Microseconds keep every four-digit year in range (nanosecond time points end in 2262) and
// hold more than the server ever sends.
using Instant = std::chrono::sys_time<std::chrono::microseconds>;

// A server time stamp: date-time with fractional seconds and a zone, without fractional
// seconds and with a zone, or without a zone (read as UTC). Nothing for anything else.
std::optional<Instant> parseISO(std::string_view text);

// "dd.MM в HH:mm" in the local time zone for a time stamp parseISO accepts; any other text
// comes back unchanged.
std::string stamp(const std::string& text);

// Drops pictographs, flags, joiners and emoji variation selectors from a server text,
// collapses the double spaces left behind and trims the ends.
std::string stripEmoji(std::string_view text);

} // namespace orvex::Texts

#include "Texts.h"

#include "DeepLink.h"
#include "Text.h"

#include <climits>
#include <ctime>
#include <gtest/gtest.h>

#include "APIError.h"
#include "Http.h"
#include "TestSupport.h"

using namespace orvex;
using namespace std::chrono;

namespace {

const std::string offline = "Нет соединения с интернетом. Проверьте сеть и попробуйте снова.";
const std::string silent = "Сервер не отвечает. Проверьте интернет или попробуйте позже.";
const std::string unknown = "Неизвестная ошибка.";

} // namespace

TEST(Text, TrimUTF8AndCase) {
    // Unicode White_Space goes from both ends only: no-break, em and ideographic spaces and the
    // line separator among it, the zero-width space not; an invalid byte stops the trimming.
    // clang-format off
    const std::pair<const char*, const char*> trims[] = {
        {"\n\n  ok \r\n\t", "ok"}, {"a\n b", "a\n b"}, {"\u00a0\u2003Привет\u3000\u2028", "Привет"},
        {" \t\r\n", ""}, {"", ""}, {"\u200bx\u200b", "\u200bx\u200b"}, {" \xff ", "\xff"}, {"x \xd0", "x \xd0"},
        {" \uFFFD\u3000", "\uFFFD"}};
    // clang-format on
    for (const auto& [text, trimmed] : trims) EXPECT_EQ(Text::trim(text), trimmed) << text;
    EXPECT_TRUE(Text::isValidUTF8("Ёж 😀 \uFFFD"));
    // A cut sequence, an overlong one, a surrogate, beyond U+10FFFF.
    for (const char* invalid : {"\xd0", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80"})
        EXPECT_FALSE(Text::isValidUTF8(invalid)) << invalid;
    // The shell's, the log's and the routing tools' readers are checked with their own texts.
}

TEST(Texts, HumanErrorForServerAnswers) {
    const std::pair<APIError, std::string> cases[] = {
        {APIError(401, "token revoked"), "Сессия истекла — привяжите устройство заново."},
        {APIError(403, "x"), "Доступ запрещён. Напишите в поддержку, если это ошибка."},
        {APIError(404, "Not Found"), "Функция пока недоступна."},
        {APIError(429, "slow down", 30), "Слишком много попыток. Подождите немного и повторите."},
        {APIError(500, "boom"), "Сервер временно недоступен. Попробуйте позже."},
        // Other statuses show the server's own words, cleaned of pictographs.
        {APIError(400, "Неверный  код 🙈"), "Неверный код"},
        {APIError(400, " 🎉 🎉 "), ""},
        {APIError(409, ""), "Не удалось выполнить запрос. Попробуйте позже."},
        {APIError(0, "нет связи с сервером"), "нет связи с сервером"},
    };
    for (const auto& [error, text] : cases) EXPECT_EQ(Texts::humanError(error), text) << error.status;
}

TEST(Texts, HumanErrorForOtherErrors) {
    // ORVEX's own errors speak for themselves, even when their words look like a keyword.
    EXPECT_EQ(Texts::humanError(Error("Служба ORVEX не отвечает: проверьте сеть")),
              "Служба ORVEX не отвечает: проверьте сеть");
    // The transport's failures, whose codes the HTTP tests check against real sockets, read
    // as the two network lines or in the platform's words.
    using Code = Http::TransportError::Code;
    const std::pair<Code, std::string> transport[] = {
        {Code::notConnectedToInternet, offline},
        {Code::cannotConnectToHost, offline},
        {Code::timedOut, silent},
        {Code::cannotFindHost, "A server with the specified hostname could not be found."}};
    for (const auto& [code, text] : transport)
        EXPECT_EQ(Texts::humanError(Http::TransportError(code, "curl")), text) << static_cast<int>(code);
    // Keywords are found in any letter case, Cyrillic included, and the first rule wins.
    // clang-format off
    const std::pair<const char*, std::string> descriptions[] = {
        {"СЕТЬ недоступна", offline}, {"Operation TIMED OUT", silent}, {"internet request timed out", offline},
        {"Request time out", silent}, {"Disk Full", "Disk Full"}, {"", unknown}};
    // clang-format on
    for (const auto& [description, text] : descriptions)
        EXPECT_EQ(Texts::humanError(std::make_exception_ptr(std::runtime_error(description))), text)
            << description;
    EXPECT_EQ(Texts::humanError(std::make_exception_ptr(42)), unknown);
    EXPECT_EQ(Texts::humanError(nullptr), unknown);
}

TEST(Texts, ServerChangeWaitAndLabels) {
    // Whole minutes rounded up, at least one, with no overflow at the ends.
    const std::pair<std::int64_t, const char*> waits[] = {
        {0, "1"},         {1, "1"},  {60, "1"},    {-30, "1"},
        {INT64_MIN, "1"}, {61, "2"}, {3600, "60"}, {INT64_MAX, "153722867280912931"}};
    for (const auto& [seconds, minutes] : waits)
        EXPECT_EQ(Texts::serverChangeWait(seconds),
                  std::string("Сменить сервер можно снова через ") + minutes + " мин.")
            << seconds;
    // Labels compare whole texts exactly.
    EXPECT_EQ(Texts::eventLabel("vpn_connected"), "Подключение");
    for (const char* unknownEvent : {"VPN_CONNECTED", "vpn_connected "})
        EXPECT_EQ(Texts::eventLabel(unknownEvent), unknownEvent);
}

TEST(Texts, ParseISOAcceptsTheThreeForms) {
    auto at = [](int y, unsigned m, unsigned d, int h, int mi, int s) {
        return Texts::Instant{sys_days{year{y} / month{m} / day{d}} + hours{h} + minutes{mi} + seconds{s}};
    };
    const std::pair<const char*, Texts::Instant> accepted[] = {
        {"2025-03-01T12:30:45.123+03:00", at(2025, 3, 1, 9, 30, 45) + milliseconds{123}},
        {"2025-03-01T12:30:45.123456Z", at(2025, 3, 1, 12, 30, 45) + microseconds{123456}},
        {"2025-03-01T12:30:45.5-01:30", at(2025, 3, 1, 14, 0, 45) + milliseconds{500}},
        {"2025-03-01T12:30:45.1234567891Z", at(2025, 3, 1, 12, 30, 45) + microseconds{123456}},
        {"2025-03-01T12:30:45Z", at(2025, 3, 1, 12, 30, 45)},
        {"2025-03-01T00:10:00+05:00", at(2025, 2, 28, 19, 10, 0)},
        {"2025-03-01T12:30:45", at(2025, 3, 1, 12, 30, 45)},
        {"2024-02-29T00:00:00Z", at(2024, 2, 29, 0, 0, 0)},
        // The ends of the four-digit years stay in range.
        {"0000-01-01T00:00:00Z", at(0, 1, 1, 0, 0, 0)},
        {"9999-12-31T23:59:59.999999-23:59", at(10000, 1, 1, 23, 58, 59) + microseconds{999999}},
    };
    for (const auto& [text, instant] : accepted) EXPECT_EQ(Texts::parseISO(text), instant) << text;
    // clang-format off
    for (const char* bad : {"", "2025-03-01", "2025-03-01T12:30", "2025-03-01 12:30:45Z", "2025-03-01T12:30:45z",
             "2025-3-01T12:30:45Z", "2025-02-29T00:00:00Z", "2025-13-01T00:00:00Z", "2025-00-10T00:00:00Z",
             "2025-04-31T00:00:00Z", "2025-03-01T24:00:00Z", "2025-03-01T12:60:00Z", "2025-03-01T12:30:60Z",
             "2025-03-01T12:30:45+0300", "2025-03-01T12:30:45+24:00", "2025-03-01T12:30:45+03:60",
             "2025-03-01T12:30:45.123", "2025-03-01T12:30:45.Z", "2025-03-01T12:30:45Z ", "+2025-03-01T12:30:45Z",
             "2025-03-01T12:30:45.12a4Z", "2025-03-01T１2:30:45Z"})
        EXPECT_FALSE(Texts::parseISO(bad)) << bad;
    // clang-format on
}

TEST(Texts, StampFollowsTheLocalZone) {
    // Anything but a time stamp comes back as it is.
    // clang-format off
    const std::tuple<const char*, const char*, const char*> stamps[] = {
        {"MSK-3", "2025-03-01T22:30:45.123+00:00", "02.03 в 01:30"}, {"MSK-3", "2025-03-01T12:05:00Z", "01.03 в 15:05"},
        {"MSK-3", "2025-12-31T21:00:00", "01.01 в 00:00"}, {"EST5", "2025-03-01T22:30:45.123+00:00", "01.03 в 17:30"},
        {"EST5", "2025-03-01T03:07:00+03:00", "28.02 в 19:07"}, {"EST5", "вчера", "вчера"},
        {"EST5", "2025-03-01T12:30", "2025-03-01T12:30"}};
    // clang-format on
    for (const auto& [zone, text, shown] : stamps) {
        test::ScopedEnv tz("TZ", zone);
        EXPECT_EQ(Texts::stamp(text), shown) << zone << " " << text;
    }
    tzset();
}

TEST(Texts, StripEmojiRemovesPictographsAndJoiners) {
    const std::pair<const char*, const char*> cases[] = {
        {"a 😀 b", "a b"},
        {"\U0001F1F7\U0001F1FA Россия \U0001F1E9\U0001F1EA", "Россия"}, // flags
        {"семья \U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466 дома", "семья дома"},
        {"\U0001F44D\U0001F3FD ок", "ок"}, // a skin tone
        // emoji-style hearts and symbols go; the text-style selector U+FE0E is not in the list
        {"\u2764\uFE0F \u2600\uFE0E \u2605 \u2B06 \u2705 ok", "\uFE0E ok"},
        // a keycap loses only its U+FE0F; the enclosing mark stays on the digit
        {"Шаг 1\uFE0F\u20E3", "Шаг 1\u20E3"},
        // Everything else stays, in order; only spaces collapse, other white space only trims.
        {"\n  Тариф — 199 ₽/мес ©  \t x\t\ty \u00A0",
         "Тариф — 199 ₽/мес © \t x\t\ty"},
        // A stray byte must not merge with its neighbours into a pictograph once a joiner
        // between them is dropped: each becomes U+FFFD, and stays one when stripped again.
        {"x\xF0\u200D\x9F\x98\x80", "x\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"x\uFFFD\uFFFD\uFFFD\uFFFD", "x\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"\xC0\xAF\xED\xA0\x80 ok \xF4\x90\x80\x80",
         "\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD ok \uFFFD\uFFFD\uFFFD\uFFFD"},
    };
    for (const auto& [text, stripped] : cases) EXPECT_EQ(Texts::stripEmoji(text), stripped) << text;
}

// Each link, then the code it carries ("" for none). The path wins over the query, also when
// it normalizes to nothing; in the query the first item named c or code decides, even without
// a value. Links of other schemes, hosts or shapes carry none.
TEST(DeepLink, CodeFromPathOrQuery) {
    // clang-format off
    const std::pair<std::string, const char*> links[] = {
        {"ORVEXVPN://code/ab12/", "ab12"}, {"OrvexVPN://Code//AbC12//", "AbC12"}, {"orvexvpn://code/a/../b", "a/../b"},
        {"orvexvpn://code/%D0%9A%D0%BE%D0%B4%2F1", "Код/1"}, {"orvexvpn://code/ab?c=zz", "ab"},
        {"orvexvpn://code/%20%20?c=Z9", ""}, {"orvexvpn://code/%FF%FE", ""}, {"orvexvpn://code/ab#frag", "ab"},
        {"orvexvpn://code/?code=Z9", "Z9"}, {"orvexvpn://code?code=A1&c=B2", "A1"}, {"orvexvpn://code?c=a%2Bb+c%20", "a+b+c"},
        {"orvexvpn://code?c=x=y", "x=y"}, {"orvexvpn://code?%63=Z9", "Z9"}, {"orvexvpn://code?C=Z9", ""},
        {"orvexvpn://code?codes=Z9", ""}, {"orvexvpn://code?c&code=Z9", ""}, {"orvexvpn://code?c=%20", ""},
        {"orvexvpn://code", ""}, {std::string("orvexvpn://code/ab\0cd", 21), ""}, {"orvexvpn:code/ab12", ""},
        {"https://code/ab12", ""}, {"orvexvpn://update?c=1", ""}, {"orvexvpn:/code/ab12", ""},
        {"orvexvpn:///code/ab12", ""}, {"orvexvpn://codes/ab", ""}};
    // clang-format on
    for (const auto& [url, code] : links) EXPECT_EQ(DeepLink::code(url).value_or(""), code) << url;
    EXPECT_EQ(DeepLink::normalize("  Ab /c\u3000\n"), "Ab /c");
    EXPECT_EQ(DeepLink::normalize("\u00A0\t\r\n"), std::nullopt);
    EXPECT_EQ(DeepLink::normalize(""), std::nullopt);
}

#include "Texts.h"

#include <arpa/inet.h>
#include <climits>
#include <ctime>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "APIError.h"
#include "FileDescriptor.h"
#include "Http.h"
#include "TestSupport.h"

using namespace orvex;
using namespace std::chrono;

namespace {

const std::string offline = "Нет соединения с интернетом. Проверьте сеть и попробуйте снова.";
const std::string silent = "Сервер не отвечает. Проверьте интернет или попробуйте позже.";

// Sets TZ for the guard's lifetime and makes the C library read it.
class ScopedZone {
public:
    explicit ScopedZone(const std::string& zone) : env_("TZ", zone) { tzset(); }
    ~ScopedZone() { tzset(); }

private:
    test::ScopedEnv env_;
};

// A loopback socket bound to a free port; listening, it completes connections but never
// answers them.
struct LoopbackPort {
    FileDescriptor socket{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    int port = 0;
    explicit LoopbackPort(bool listening) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(socket.get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            (listening && listen(socket.get(), 8) != 0) ||
            getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("cannot bind a loopback port");
        port = ntohs(address.sin_port);
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port) + "/"; }
};

std::string humanErrorOf(const Http::Request& request) {
    try {
        Http::perform(request);
    } catch (...) {
        return Texts::humanError(std::current_exception());
    }
    return "no error";
}

} // namespace

TEST(Texts, HumanErrorForServerAnswers) {
    EXPECT_EQ(Texts::humanError(APIError(401, "token revoked")),
              "Сессия истекла — привяжите устройство заново.");
    EXPECT_EQ(Texts::humanError(APIError(403, "x")),
              "Доступ запрещён. Напишите в поддержку, если это ошибка.");
    EXPECT_EQ(Texts::humanError(APIError(404, "Not Found")), "Функция пока недоступна.");
    EXPECT_EQ(Texts::humanError(APIError(429, "slow down", 30)),
              "Слишком много попыток. Подождите немного и повторите.");
    for (int status : {500, 502, 599, 600})
        EXPECT_EQ(Texts::humanError(APIError(status, "boom")),
                  "Сервер временно недоступен. Попробуйте позже.");
    // Other statuses show the server's own words, cleaned of pictographs.
    EXPECT_EQ(Texts::humanError(APIError(400, "Неверный  код 🙈")), "Неверный код");
    EXPECT_EQ(Texts::humanError(APIError(400, " 🎉 🎉 ")), "");
    EXPECT_EQ(Texts::humanError(APIError(409, "")), "Не удалось выполнить запрос. Попробуйте позже.");
    EXPECT_EQ(Texts::humanError(APIError(0, "нет связи с сервером")), "нет связи с сервером");
    EXPECT_EQ(Texts::humanError(APIError(413, "Файл больше 20 МБ")), "Файл больше 20 МБ");
}

TEST(Texts, HumanErrorForOtherErrors) {
    // ORVEX's own errors speak for themselves, even when their words look like a keyword.
    EXPECT_EQ(Texts::humanError(Error("Служба ORVEX не отвечает: проверьте сеть")),
              "Служба ORVEX не отвечает: проверьте сеть");

    using Code = Http::TransportError::Code;
    auto transport = [](Code code) { return Texts::humanError(Http::TransportError(code, "curl: detail")); };
    EXPECT_EQ(transport(Code::notConnectedToInternet), offline);
    EXPECT_EQ(transport(Code::cannotConnectToHost), offline);
    EXPECT_EQ(transport(Code::timedOut), silent);
    EXPECT_EQ(transport(Code::cannotFindHost), "A server with the specified hostname could not be found.");

    // Keywords are found in any letter case, Cyrillic included, and the first rule wins.
    EXPECT_EQ(Texts::humanError(std::runtime_error("СЕТЬ недоступна")), offline);
    EXPECT_EQ(Texts::humanError(std::runtime_error("Operation TIMED OUT")), silent);
    EXPECT_EQ(Texts::humanError(std::runtime_error("internet request timed out")), offline);
    EXPECT_EQ(Texts::humanError(std::runtime_error("Disk Full")), "Disk Full");

    EXPECT_EQ(Texts::humanError(std::make_exception_ptr(APIError(404, ""))), "Функция пока недоступна.");
    EXPECT_EQ(Texts::humanError(std::make_exception_ptr(std::runtime_error("Request time out"))), silent);
    EXPECT_EQ(Texts::humanError(std::make_exception_ptr(42)), "Неизвестная ошибка.");
    EXPECT_EQ(Texts::humanError(nullptr), "Неизвестная ошибка.");
    EXPECT_EQ(Texts::humanError(std::runtime_error("")), "Неизвестная ошибка.");
}

// Through the real transport: libcurl's failures must reach the user as the two network lines.
TEST(Texts, HumanErrorForRealTransportFailures) {
    Http::Request request;
    request.timeout = 1;
    {
        LoopbackPort bound(false); // bound but not listening: the connection is refused
        request.url = bound.url();
        EXPECT_EQ(humanErrorOf(request), offline);
    }
    LoopbackPort silentServer(true);
    request.url = silentServer.url();
    EXPECT_EQ(humanErrorOf(request), silent);
}

TEST(Texts, ServerChangeWaitRoundsUpToWholeMinutes) {
    auto n = [](std::int64_t seconds) { return Texts::serverChangeWait(seconds); };
    EXPECT_EQ(n(0), "Сменить сервер можно снова через 1 мин.");
    EXPECT_EQ(n(1), n(0));
    EXPECT_EQ(n(60), n(0));
    EXPECT_EQ(n(-30), n(0));
    EXPECT_EQ(n(61), "Сменить сервер можно снова через 2 мин.");
    EXPECT_EQ(n(3600), "Сменить сервер можно снова через 60 мин.");
    EXPECT_EQ(n(INT64_MAX), "Сменить сервер можно снова через 153722867280912931 мин.");
    EXPECT_EQ(n(INT64_MIN), n(0));
}

TEST(Texts, LabelsCompareWholeTextsExactly) {
    EXPECT_EQ(Texts::eventLabel("vpn_connected"), "Подключение");
    EXPECT_EQ(Texts::eventLabel("VPN_CONNECTED"), "VPN_CONNECTED");
    EXPECT_EQ(Texts::eventLabel("vpn_connected "), "vpn_connected ");
    EXPECT_EQ(Texts::platformLabel("macos"), "macOS");
    EXPECT_EQ(Texts::platformLabel("Android"), "Android");
    EXPECT_EQ(Texts::platformLabel("linux"), "linux");
}

TEST(Texts, ParseISOAcceptsTheThreeForms) {
    auto at = [](int y, unsigned m, unsigned d, int h, int mi, int s) {
        return Texts::Instant{sys_days{year{y} / month{m} / day{d}} + hours{h} + minutes{mi} + seconds{s}};
    };
    EXPECT_EQ(Texts::parseISO("2025-03-01T12:30:45.123+03:00"),
              at(2025, 3, 1, 9, 30, 45) + milliseconds{123});
    EXPECT_EQ(Texts::parseISO("2025-03-01T12:30:45.123456Z"),
              at(2025, 3, 1, 12, 30, 45) + microseconds{123456});
    EXPECT_EQ(Texts::parseISO("2025-03-01T12:30:45.5-01:30"), at(2025, 3, 1, 14, 0, 45) + milliseconds{500});
    EXPECT_EQ(Texts::parseISO("2025-03-01T12:30:45.1234567891Z"),
              at(2025, 3, 1, 12, 30, 45) + microseconds{123456});
    EXPECT_EQ(Texts::parseISO("2025-03-01T12:30:45Z"), at(2025, 3, 1, 12, 30, 45));
    EXPECT_EQ(Texts::parseISO("2025-03-01T00:10:00+05:00"), at(2025, 2, 28, 19, 10, 0));
    EXPECT_EQ(Texts::parseISO("2025-03-01T12:30:45"), at(2025, 3, 1, 12, 30, 45));
    EXPECT_EQ(Texts::parseISO("2024-02-29T00:00:00Z"), at(2024, 2, 29, 0, 0, 0));
    // The ends of the four-digit years stay in range.
    EXPECT_EQ(Texts::parseISO("0000-01-01T00:00:00Z"), at(0, 1, 1, 0, 0, 0));
    EXPECT_EQ(Texts::parseISO("9999-12-31T23:59:59.999999-23:59"),
              at(10000, 1, 1, 23, 58, 59) + microseconds{999999});

    for (const char* bad : {"",
                            "2025-03-01",
                            "2025-03-01T12:30",
                            "2025-03-01 12:30:45Z",
                            "2025-03-01t12:30:45Z",
                            "2025-03-01T12:30:45z",
                            "2025-3-01T12:30:45Z",
                            "20250301T123045Z",
                            "2025-02-29T00:00:00Z",
                            "2025-13-01T00:00:00Z",
                            "2025-00-10T00:00:00Z",
                            "2025-04-31T00:00:00Z",
                            "2025-03-01T24:00:00Z",
                            "2025-03-01T12:60:00Z",
                            "2025-03-01T12:30:60Z",
                            "2025-03-01T12:30:45+0300",
                            "2025-03-01T12:30:45+03",
                            "2025-03-01T12:30:45+24:00",
                            "2025-03-01T12:30:45+03:60",
                            "2025-03-01T12:30:45.123",
                            "2025-03-01T12:30:45.Z",
                            "2025-03-01T12:30:45Z ",
                            " 2025-03-01T12:30:45Z",
                            "2025-03-01T12:30:45ZZ",
                            "+2025-03-01T12:30:45Z",
                            "2025-03-01T12:30:45.12a4Z",
                            "2025-03-01T１2:30:45Z"})
        EXPECT_FALSE(Texts::parseISO(bad)) << bad;
}

TEST(Texts, StampFollowsTheLocalZone) {
    {
        ScopedZone zone("MSK-3");
        EXPECT_EQ(Texts::stamp("2025-03-01T22:30:45.123+00:00"), "02.03 в 01:30");
        EXPECT_EQ(Texts::stamp("2025-03-01T12:05:00Z"), "01.03 в 15:05");
        EXPECT_EQ(Texts::stamp("2025-12-31T21:00:00"), "01.01 в 00:00");
    }
    {
        ScopedZone zone("EST5");
        EXPECT_EQ(Texts::stamp("2025-03-01T22:30:45.123+00:00"), "01.03 в 17:30");
        EXPECT_EQ(Texts::stamp("2025-03-01T03:07:00+03:00"), "28.02 в 19:07");
    }
    EXPECT_EQ(Texts::stamp(""), "");
    EXPECT_EQ(Texts::stamp("вчера"), "вчера");
    EXPECT_EQ(Texts::stamp("2025-03-01T12:30"), "2025-03-01T12:30");
}

TEST(Texts, StripEmojiRemovesPictographsAndJoiners) {
    EXPECT_EQ(Texts::stripEmoji("a 😀 b"), "a b");
    // flags
    EXPECT_EQ(Texts::stripEmoji("\U0001F1F7\U0001F1FA Россия \U0001F1E9\U0001F1EA"), "Россия");
    // a joined family
    EXPECT_EQ(Texts::stripEmoji("семья \U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466 дома"),
              "семья дома");
    // a skin tone
    EXPECT_EQ(Texts::stripEmoji("\U0001F44D\U0001F3FD ок"), "ок");
    // emoji-style hearts and symbols go; the text-style selector U+FE0E is not in the list
    EXPECT_EQ(Texts::stripEmoji("\u2764\uFE0F \u2600\uFE0E \u2605 \u2B06 \u2705 ok"), "\uFE0E ok");
    // a keycap loses only its U+FE0F; the enclosing mark stays on the digit
    EXPECT_EQ(Texts::stripEmoji("Шаг 1\uFE0F\u20E3"), "Шаг 1\u20E3");
    EXPECT_EQ(Texts::stripEmoji("a\u200Db"), "ab");
    // Everything else stays, in order; only spaces collapse, other white space only trims.
    EXPECT_EQ(Texts::stripEmoji("\n  Тариф — 199 ₽/мес ©  \t x\t\ty \u00A0"),
              "Тариф — 199 ₽/мес © \t x\t\ty");
    EXPECT_EQ(Texts::stripEmoji("a     b"), "a b");
    EXPECT_EQ(Texts::stripEmoji(""), "");
    EXPECT_EQ(Texts::stripEmoji("🚀🚀"), "");
    // A stray byte must not merge with its neighbours into a pictograph once a joiner between
    // them is dropped.
    std::string out = Texts::stripEmoji("x\xF0\u200D\x9F\x98\x80");
    EXPECT_EQ(out, "x\uFFFD\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(Texts::stripEmoji(out), out);
}

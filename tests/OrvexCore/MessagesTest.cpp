// The messages exchanged with the account server and with the service; the account flows and
// the service's tests carry well-formed ones end to end, so this is mostly what they never send.
#include "APITypes.h"
#include "IPCProtocol.h"
#include "Thrown.h"

#include <cmath>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace orvex;
using nlohmann::json;
using Code = CodingError::Code;
using Kind = IPCDecodeError::Kind;

namespace {

template <typename R> Code failure(std::string_view text) {
    return test::thrown<CodingError>([&] { R::decode(text); })
        .value_or(CodingError(Code::unwritable, ""))
        .code;
}

// The kind, key and (where given) the text the service's log shows after "не разобран запрос: ".
struct Rejection {
    std::string line;
    Kind kind;
    const char* key;
    const char* text = nullptr;
};

template <typename Message> void expectRejected(const Rejection& rejection) {
    auto error = test::thrown<IPCDecodeError>([&] { Message::decode(rejection.line); });
    if (!error) return;
    EXPECT_EQ(error->kind, rejection.kind) << rejection.line;
    EXPECT_EQ(error->key, rejection.key) << rejection.line;
    EXPECT_STREQ(error->what(), rejection.text ? rejection.text : error->what());
}

const std::string booleans = R"("loggingEnabled":false,"killSwitchEnabled":false,"adBlockEnabled":true)";

} // namespace

TEST(APITypes, DecodesResponsesWithTheirOptionalAndRequiredRules) {
    // Every key is read: encoding the record again gives the same document, less unknown keys.
    const std::string full = R"({
      "is_active": true, "expires_at": "2025-03-28T00:00:00Z", "started_at": "2025-02-26T00:00:00Z",
      "days_left": 23, "total_days": 30, "traffic_limit_gb": 200, "traffic_used_gb": 12.5,
      "tariff_name": "Месяц", "server_name": "Германия", "can_request_trial": false,
      "is_telegram_linked": true, "is_email_linked": false, "is_email_verified": false, "referral_code": "FRIEND"})";
    EXPECT_EQ(json::parse(SubscriptionResponse::decode(full).encode()), json::parse(full));
    json extra = json::parse(full);
    extra["unknown_key"] = {{"nested", {1, 2}}};
    extra["days_left"] = nullptr;
    EXPECT_FALSE(SubscriptionResponse::decode(extra.dump()).daysLeft);
    // A present optional of the wrong type is an error, not silently absent.
    const std::pair<std::string, Code> broken[] = {
        {R"({"is_active": true})", Code::missing},
        {R"({"is_active": 1})", Code::wrongFormat},
        {full.substr(0, full.size() - 1) + R"(, "days_left": "5"})", Code::wrongFormat},
        {"not json", Code::wrongFormat},
        {"[]", Code::wrongFormat}};
    for (const auto& [text, code] : broken) EXPECT_EQ(failure<SubscriptionResponse>(text), code) << text;
    // Integers are 64-bit, beyond a double's precision; ones beyond 64 bits are no integers.
    const std::string servers =
        R"({"servers": [{"id": 9007199254740993, "name": "B", "host": "b", "port": 8443}],
        "change_retry_after": -5, "change_cooldown": 300})";
    EXPECT_EQ(json::parse(ServersResponse::decode(servers).encode()), json::parse(servers));
    EXPECT_EQ(failure<ServersResponse>(R"({"servers": [], "change_retry_after": 0})"), Code::missing);
    auto fractional = test::thrown<CodingError>([] {
        ServersResponse::decode(R"({"servers": [{"id": 1, "name": "A", "host": "a", "port": 1.5}],
            "change_retry_after": 0, "change_cooldown": 0})");
    });
    EXPECT_EQ(fractional.value().path, "servers[0].port");
    EXPECT_STREQ(fractional->what(), "The data couldn’t be read because it isn’t in the correct format.");
    EXPECT_EQ(failure<ServersResponse>(R"({"servers": [{"id": 9223372036854775808, "name": "A", "host": "a",
        "port": 1}], "change_retry_after": 0, "change_cooldown": 0})"),
              Code::wrongFormat);
    EXPECT_EQ(failure<NotificationsResponse>(R"({"notifications": [{"id": 1, "kind": "k", "title": "t",
        "body": null, "created_at": "c"}], "last_id": 1})"),
              Code::missing);
    auto messages = SupportMessagesResponse::decode(
        R"({"messages": [{"id": 2, "direction": "Support", "created_at": "c", "file_name": "a.png"}]})");
    EXPECT_FALSE(messages.messages[0].isFromSupport()); // the word is matched exactly
    EXPECT_EQ(messages.messages[0].fileName, "a.png");
}

// The demo server refuses a request without its keys; here are the optional keys left out and
// the texts that need escaping.
TEST(APITypes, EncodesRequestsWithExactlyTheServersKeys) {
    const std::pair<std::string, std::string> encoded[] = {
        {AuthRequest{"123", std::nullopt, "linux", "M", "S"}.encode(),
         R"({"code":"123","platform":"linux","device_model":"M","system_version":"S"})"},
        {LoginRequest{"e", "p", "L", std::nullopt, std::nullopt, std::nullopt}.encode(),
         R"({"email":"e","password":"p","device_label":"L"})"},
        {SupportMessageCreate{"привет \"мир\"\n"}.encode(), R"({"text":"привет \"мир\"\n"})"},
        {ServerChangeRequest{8589934592LL}.encode(), R"({"server_id":8589934592})"},
        {SupportReportRequest{"1", "o", "s", "v", "e", std::nullopt, "b"}.encode(),
         R"({"app_version":"1","android_version":"o","status":"s","server":"v","last_error":"e","service_log":"b"})"},
    };
    for (const auto& [text, expected] : encoded) EXPECT_EQ(text, expected);
    EXPECT_THROW(SupportMessageCreate{"\xff"}.encode(), CodingError);
}

TEST(IPCProtocol, RequestsMatchTheWireForm) {
    EXPECT_EQ(IPCRequest().encode(), "{\"method\":\"ping\"," + booleans + "}");
    IPCRequest connect;
    connect.method = IPCMethod::connect;
    connect.vlessRaw = "vless://id@example.net:443?path=%2Fws#Сервер";
    connect.serverName = "Москва\n\"тест\"";
    std::string line = connect.encode();
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_EQ(IPCRequest::decode(line), connect);
    IPCRequest update{IPCMethod::installUpdate, std::nullopt, std::nullopt, true, true, false, "2.4.1"};
    EXPECT_EQ(update.encode(), R"({"method":"install_update","loggingEnabled":true,"killSwitchEnabled":true,)"
                               R"("adBlockEnabled":false,"version":"2.4.1"})");
}

TEST(IPCProtocol, RequestDecodingIsLenientOnlyWhereAllowed) {
    // Null is absent, unknown keys are ignored, escapes are undone.
    IPCRequest expected;
    expected.method = IPCMethod::connect;
    expected.vlessRaw = "vless://a@b:1";
    EXPECT_EQ(IPCRequest::decode(R"({"method":"connect","vlessRaw":"vless:\/\/a@b:1","serverName":null,)"
                                 R"("extra":{"x":[1,2]},)" +
                                 booleans + "}"),
              expected);
    const Rejection rejections[] = {
        {R"({"method":"set_ad_block","loggingEnabled":false,"killSwitchEnabled":false})", Kind::missingKey,
         "adBlockEnabled", "нет ключа «adBlockEnabled»"},
        {R"({"method":"ping","loggingEnabled":0,"killSwitchEnabled":false,"adBlockEnabled":true})",
         Kind::wrongType, "loggingEnabled", "неверный тип значения «loggingEnabled»"},
        {R"({"method":"ping","vlessRaw":5,)" + booleans + "}", Kind::wrongType, "vlessRaw"},
        {R"({"method":"setKillSwitch",)" + booleans + "}", Kind::badValue, "method",
         "недопустимое значение «method»"},
        {R"({"method":"ping"} {})", Kind::notJSON, ""},
        // Texts on the wire are UTF-8; a stray byte fails the message, not just the field.
        {"{\"method\":\"ping\",\"serverName\":\"\xff\"}", Kind::notJSON, ""},
        {R"("ping")", Kind::notObject, "", "сообщение не является объектом JSON"},
    };
    for (const Rejection& rejection : rejections) expectRejected<IPCRequest>(rejection);
}

TEST(IPCProtocol, ResponsesMatchTheWireForm) {
    // Field order included, as the service writes a status and the application reads it.
    const std::string line =
        R"({"ok":true,"status":{"state":"connected","serverName":"Нидерланды / Амстердам",)"
        R"("message":"Подключено\nвторая строка","killSwitchEnabled":true,"killSwitchHold":false,)"
        R"("exitIP":"203.0.113.7","adBlockEnabled":false}})";
    IPCResponse status = IPCResponse::decode(line);
    EXPECT_EQ(status.status.value().message, "Подключено\nвторая строка");
    EXPECT_EQ(status.encode(), line);
    IPCResponse speed{true, std::nullopt, std::nullopt, 93.25, std::nullopt};
    EXPECT_EQ(speed.encode(), R"({"ok":true,"mbps":93.25})");
    IPCResponse adBlock{true, std::nullopt, TunnelStatus::neutral(), std::nullopt, false};
    for (TunnelState state : {TunnelState::connecting, TunnelState::error}) {
        adBlock.status->state = state;
        EXPECT_EQ(IPCResponse::decode(adBlock.encode()), adBlock) << wireText(state);
    }
    // JSON cannot carry NaN, and the writer must not fail over bytes that are not UTF-8.
    IPCResponse odd{true, std::string("сломано \xff\xfe"), std::nullopt, std::nan(""), std::nullopt};
    std::string oddLine = odd.encode();
    EXPECT_EQ(oddLine.find('\n'), std::string::npos);
    IPCResponse back = IPCResponse::decode(oddLine);
    EXPECT_EQ(back.mbps, std::nullopt);
    EXPECT_EQ(back.error->rfind("сломано ", 0), 0u);
}

TEST(IPCProtocol, ResponseDecodingIsLenientOnlyWhereAllowed) {
    EXPECT_EQ(IPCResponse::decode(R"({"ok":false,"error":"нет пути к http:\/\/example.net\/","status":null,)"
                                  R"("mbps":null,"needReconnect":null,"future":true})"),
              IPCResponse::failure("нет пути к http://example.net/"));
    EXPECT_EQ(IPCResponse::decode(R"({"ok":true,"mbps":12})").mbps, 12.0);
    const std::string status =
        R"({"ok":true,"status":{"serverName":"","message":"","killSwitchEnabled":false,)";
    const Rejection rejections[] = {
        {status + R"("state":"paused","killSwitchHold":false,"exitIP":"","adBlockEnabled":true}})",
         Kind::badValue, "status.state"},
        {status + R"("state":"error","killSwitchHold":false,"adBlockEnabled":true}})", Kind::missingKey,
         "status.exitIP"},
        {status + R"("state":"error","killSwitchHold":1,"exitIP":"","adBlockEnabled":true}})",
         Kind::wrongType, "status.killSwitchHold"},
        {R"({"ok":true,"status":"connected"})", Kind::wrongType, "status"},
        {R"({"error":"x"})", Kind::missingKey, "ok"},
        {R"({"ok":true,"error":false})", Kind::wrongType, "error"},
        // The JSON library itself would turn true into 1.0 if asked for a number.
        {R"({"ok":true,"mbps":true})", Kind::wrongType, "mbps"},
        // Beyond a double's range is no number the reader takes at all.
        {R"({"ok":true,"mbps":1e400})", Kind::notJSON, ""},
    };
    for (const Rejection& rejection : rejections) expectRejected<IPCResponse>(rejection);
    // The reader collects up to 4 MiB; a line that deep must fail or pass, not crash.
    EXPECT_TRUE(IPCResponse::decode(R"({"ok":true,"junk":)" + std::string(1'000'000, '[') +
                                    std::string(1'000'000, ']') + "}")
                    .ok);
}

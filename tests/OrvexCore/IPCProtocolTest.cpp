#include "IPCProtocol.h"

#include <cmath>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace orvex;
using nlohmann::json;
using Kind = IPCDecodeError::Kind;

namespace {

TunnelStatus connectedStatus() {
    TunnelStatus status;
    status.state = TunnelState::connected;
    status.serverName = "Нидерланды / Амстердам";
    status.message = "Подключено\nвторая строка";
    status.killSwitchEnabled = true;
    status.exitIP = "203.0.113.7";
    status.adBlockEnabled = false;
    return status;
}

struct Rejection {
    const char* line;
    Kind kind;
    const char* key;
};

template <typename Message> void expectRejected(const Rejection& rejection) {
    try {
        Message::decode(rejection.line);
        ADD_FAILURE() << "decoded: " << rejection.line;
    } catch (const IPCDecodeError& e) {
        EXPECT_EQ(e.kind, rejection.kind) << rejection.line;
        EXPECT_EQ(e.key, rejection.key) << rejection.line;
    }
}

const std::string booleans = R"("loggingEnabled":false,"killSwitchEnabled":false,"adBlockEnabled":true)";

} // namespace

TEST(IPCProtocol, RequestsMatchTheWireForm) {
    EXPECT_EQ(IPCRequest().encode(), "{\"method\":\"ping\"," + booleans + "}");

    IPCRequest connect;
    connect.method = IPCMethod::connect;
    connect.vlessRaw = "vless://id@example.net:443?path=%2Fws#Сервер";
    connect.serverName = "Москва\n\"тест\"";
    std::string line = connect.encode();
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_EQ(json::parse(line),
              json::parse(R"({"method":"connect","vlessRaw":"vless://id@example.net:443?path=%2Fws#Сервер",
        "serverName":"Москва\n\"тест\"",)" +
                          booleans + "}"));
    EXPECT_EQ(IPCRequest::decode(line), connect);

    const std::pair<IPCMethod, const char*> methods[] = {
        {IPCMethod::ping, "ping"},
        {IPCMethod::connect, "connect"},
        {IPCMethod::disconnect, "disconnect"},
        {IPCMethod::status, "status"},
        {IPCMethod::setLogging, "set_logging"},
        {IPCMethod::checkInternet, "check_internet"},
        {IPCMethod::speedTest, "speed_test"},
        {IPCMethod::setKillSwitch, "set_kill_switch"},
        {IPCMethod::setAdBlock, "set_ad_block"},
        {IPCMethod::installUpdate, "install_update"},
    };
    for (const auto& [method, text] : methods) {
        IPCRequest request;
        request.method = method;
        request.loggingEnabled = true;
        request.killSwitchEnabled = true;
        request.adBlockEnabled = false;
        request.version = "2.4.1";
        EXPECT_EQ(json::parse(request.encode()),
                  json::parse(std::string(R"({"method":")") + text +
                              R"(","version":"2.4.1","loggingEnabled":true,"killSwitchEnabled":true,)"
                              R"("adBlockEnabled":false})"));
        EXPECT_EQ(IPCRequest::decode(request.encode()), request) << text;
    }
}

TEST(IPCProtocol, RequestDecodingIsLenientOnlyWhereAllowed) {
    // Null is absent, unknown keys are ignored, escapes are undone.
    IPCRequest request =
        IPCRequest::decode(R"({"method":"connect","vlessRaw":"vless:\/\/a@b:1","serverName":null,)"
                           R"("version":null,"extra":{"x":[1,2]},)" +
                           booleans + "}");
    EXPECT_EQ(request.method, IPCMethod::connect);
    EXPECT_EQ(request.vlessRaw, "vless://a@b:1");
    EXPECT_EQ(request.serverName, std::nullopt);
    EXPECT_EQ(request.version, std::nullopt);

    const Rejection rejections[] = {
        {R"({"method":"set_ad_block","loggingEnabled":false,"killSwitchEnabled":false})", Kind::missingKey,
         "adBlockEnabled"},
        {R"({"method":null,"loggingEnabled":false,"killSwitchEnabled":false,"adBlockEnabled":true})",
         Kind::missingKey, "method"},
        {R"({"method":"ping","loggingEnabled":0,"killSwitchEnabled":false,"adBlockEnabled":true})",
         Kind::wrongType, "loggingEnabled"},
        {R"({"method":"ping","loggingEnabled":false,"killSwitchEnabled":"false","adBlockEnabled":true})",
         Kind::wrongType, "killSwitchEnabled"},
        {R"({"method":"ping","vlessRaw":5,"loggingEnabled":false,"killSwitchEnabled":false,"adBlockEnabled":true})",
         Kind::wrongType, "vlessRaw"},
        {R"({"method":1,"loggingEnabled":false,"killSwitchEnabled":false,"adBlockEnabled":true})",
         Kind::wrongType, "method"},
        {R"({"method":"reboot","loggingEnabled":false,"killSwitchEnabled":false,"adBlockEnabled":true})",
         Kind::badValue, "method"},
        {R"({"method":"setKillSwitch","loggingEnabled":false,"killSwitchEnabled":false,"adBlockEnabled":true})",
         Kind::badValue, "method"},
        {"", Kind::notJSON, ""},
        {R"({"method":)", Kind::notJSON, ""},
        {R"({"method":"ping"} {})", Kind::notJSON, ""},
        // Texts on the wire are UTF-8; a stray byte fails the message, not just the field.
        {"{\"method\":\"ping\",\"serverName\":\"\xff\"}", Kind::notJSON, ""},
        {R"("ping")", Kind::notObject, ""},
        {"[]", Kind::notObject, ""},
    };
    for (const Rejection& rejection : rejections) expectRejected<IPCRequest>(rejection);

    // The descriptions follow "не разобран запрос: " on the service.
    EXPECT_STREQ(IPCDecodeError(Kind::missingKey, "adBlockEnabled").what(), "нет ключа «adBlockEnabled»");
    EXPECT_STREQ(IPCDecodeError(Kind::wrongType, "ok").what(), "неверный тип значения «ok»");
    EXPECT_STREQ(IPCDecodeError(Kind::badValue, "method").what(), "недопустимое значение «method»");
    EXPECT_STREQ(IPCDecodeError(Kind::notObject).what(), "сообщение не является объектом JSON");
}

TEST(IPCProtocol, ResponsesMatchTheWireForm) {
    IPCResponse status;
    status.ok = true;
    status.status = connectedStatus();
    std::string line = status.encode();
    EXPECT_EQ(line,
              R"({"ok":true,"status":{"state":"connected","serverName":"Нидерланды / Амстердам",)"
              R"("message":"Подключено\nвторая строка","killSwitchEnabled":true,"killSwitchHold":false,)"
              R"("exitIP":"203.0.113.7","adBlockEnabled":false}})");
    EXPECT_EQ(IPCResponse::decode(line), status);

    EXPECT_EQ(IPCResponse::failure("пустой конфиг сервера").encode(),
              R"({"ok":false,"error":"пустой конфиг сервера"})");

    IPCResponse speed;
    speed.ok = true;
    speed.mbps = 93.25;
    EXPECT_EQ(speed.encode(), R"({"ok":true,"mbps":93.25})");
    EXPECT_EQ(IPCResponse::decode(speed.encode()), speed);

    IPCResponse adBlock;
    adBlock.ok = true;
    adBlock.status = TunnelStatus::neutral();
    adBlock.needReconnect = false;
    EXPECT_EQ(
        json::parse(adBlock.encode()),
        json::parse(R"({"ok":true,"needReconnect":false,"status":{"state":"disconnected","serverName":"",
                  "message":"","killSwitchEnabled":false,"killSwitchHold":false,"exitIP":"","adBlockEnabled":true}})"));

    for (TunnelState state :
         {TunnelState::disconnected, TunnelState::connecting, TunnelState::connected, TunnelState::error}) {
        IPCResponse response = adBlock;
        response.status->state = state;
        response.status->killSwitchHold = true;
        EXPECT_EQ(IPCResponse::decode(response.encode()), response) << wireText(state);
    }

    // JSON cannot carry NaN, and the writer must not fail over bytes that are not UTF-8.
    IPCResponse odd;
    odd.ok = true;
    odd.mbps = std::nan("");
    odd.error = "сломано \xff\xfe";
    std::string oddLine = odd.encode();
    EXPECT_EQ(oddLine.find('\n'), std::string::npos);
    IPCResponse back = IPCResponse::decode(oddLine);
    EXPECT_EQ(back.mbps, std::nullopt);
    EXPECT_EQ(back.error->rfind("сломано ", 0), 0u);
}

TEST(IPCProtocol, ResponseDecodingIsLenientOnlyWhereAllowed) {
    IPCResponse response = IPCResponse::decode(
        R"({"ok":false,"error":"нет пути к http:\/\/example.net\/","status":null,"mbps":null,"needReconnect":null,)"
        R"("future":true})");
    EXPECT_FALSE(response.ok);
    EXPECT_EQ(response.error, "нет пути к http://example.net/");
    EXPECT_EQ(response.status, std::nullopt);
    EXPECT_EQ(response.mbps, std::nullopt);
    EXPECT_EQ(response.needReconnect, std::nullopt);

    EXPECT_EQ(IPCResponse::decode(R"({"ok":true,"mbps":12})").mbps, 12.0);
    TunnelStatus status =
        *IPCResponse::decode(
             R"({"ok":true,"status":{"state":"error","serverName":"\u041c","message":"",)"
             R"("killSwitchEnabled":true,"killSwitchHold":true,"exitIP":"","adBlockEnabled":true,"x":1}})")
             .status;
    EXPECT_EQ(status.state, TunnelState::error);
    EXPECT_EQ(status.serverName, "М");

    const Rejection rejections[] = {
        {R"({"ok":true,"status":{"state":"paused","serverName":"","message":"","killSwitchEnabled":false,)"
         R"("killSwitchHold":false,"exitIP":"","adBlockEnabled":true}})",
         Kind::badValue, "status.state"},
        {R"({"ok":true,"status":{"state":"connected","serverName":"","message":"","killSwitchEnabled":false,)"
         R"("killSwitchHold":false,"adBlockEnabled":true}})",
         Kind::missingKey, "status.exitIP"},
        {R"({"ok":true,"status":{"state":"connected","serverName":"","message":"","killSwitchEnabled":false,)"
         R"("killSwitchHold":1,"exitIP":"","adBlockEnabled":true}})",
         Kind::wrongType, "status.killSwitchHold"},
        {R"({"ok":true,"status":"connected"})", Kind::wrongType, "status"},
        {R"({"ok":true,"status":[]})", Kind::wrongType, "status"},
        {R"({"error":"x"})", Kind::missingKey, "ok"},
        {R"({"ok":1})", Kind::wrongType, "ok"},
        {R"({"ok":true,"error":false})", Kind::wrongType, "error"},
        {R"({"ok":true,"needReconnect":"yes"})", Kind::wrongType, "needReconnect"},
        // The JSON library itself would turn true into 1.0 if asked for a number.
        {R"({"ok":true,"mbps":true})", Kind::wrongType, "mbps"},
        {R"({"ok":true,"mbps":"93"})", Kind::wrongType, "mbps"},
        // Beyond a double's range is no number the reader takes at all.
        {R"({"ok":true,"mbps":1e400})", Kind::notJSON, ""},
    };
    for (const Rejection& rejection : rejections) expectRejected<IPCResponse>(rejection);
}

TEST(IPCProtocol, DeeplyNestedUnknownValuesDoNotExhaustTheStack) {
    // The reader collects up to 4 MiB; a line that deep must fail or pass, not crash.
    std::string deep =
        R"({"ok":true,"junk":)" + std::string(1'000'000, '[') + std::string(1'000'000, ']') + "}";
    EXPECT_TRUE(IPCResponse::decode(deep).ok);
}

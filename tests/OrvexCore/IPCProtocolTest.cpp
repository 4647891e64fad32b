#include "IPCProtocol.h"

#include <cmath>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace orvex;
using nlohmann::json;

namespace {

TunnelStatus connectedStatus() {
    TunnelStatus status;
    status.state = TunnelState::connected;
    status.serverName = "Нидерланды / Амстердам";
    status.message = "Подключено\nвторая строка";
    status.killSwitchEnabled = true;
    status.killSwitchHold = false;
    status.exitIP = "203.0.113.7";
    status.adBlockEnabled = false;
    return status;
}

IPCDecodeError requestFailure(const std::string& text) {
    try {
        IPCRequest::decode(text);
    } catch (const IPCDecodeError& e) {
        return e;
    }
    ADD_FAILURE() << "decoded: " << text;
    return IPCDecodeError(IPCDecodeError::Kind::notJSON);
}

IPCDecodeError responseFailure(const std::string& text) {
    try {
        IPCResponse::decode(text);
    } catch (const IPCDecodeError& e) {
        return e;
    }
    ADD_FAILURE() << "decoded: " << text;
    return IPCDecodeError(IPCDecodeError::Kind::notJSON);
}

} // namespace

TEST(IPCProtocol, RequestsMatchTheWireForm) {
    EXPECT_EQ(IPCRequest().encode(),
              R"({"method":"ping","loggingEnabled":false,"killSwitchEnabled":false,"adBlockEnabled":true})");

    IPCRequest connect;
    connect.method = IPCMethod::connect;
    connect.vlessRaw = "vless://id@example.net:443?path=%2Fws#Сервер";
    connect.serverName = "Москва\n\"тест\"";
    std::string line = connect.encode();
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_EQ(json::parse(line),
              json::parse(R"({"method":"connect","vlessRaw":"vless://id@example.net:443?path=%2Fws#Сервер",
        "serverName":"Москва\n\"тест\"","loggingEnabled":false,"killSwitchEnabled":false,"adBlockEnabled":true})"));
    EXPECT_EQ(IPCRequest::decode(line), connect);

    IPCRequest update;
    update.method = IPCMethod::installUpdate;
    update.version = "2.4.1";
    EXPECT_EQ(json::parse(update.encode()),
              json::parse(R"({"method":"install_update","version":"2.4.1","loggingEnabled":false,
                  "killSwitchEnabled":false,"adBlockEnabled":true})"));

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
        EXPECT_EQ(json::parse(request.encode())["method"], text);
        EXPECT_EQ(IPCRequest::decode(request.encode()), request) << text;
    }
}

TEST(IPCProtocol, RequestDecodingIsLenientOnlyWhereAllowed) {
    // Null is absent, unknown keys are ignored, escapes are undone.
    IPCRequest request = IPCRequest::decode(
        R"({"method":"connect","vlessRaw":"vless:\/\/a@b:1","serverName":null,"version":null,)"
        R"("loggingEnabled":true,"killSwitchEnabled":false,"adBlockEnabled":true,"extra":{"x":[1,2]}})");
    EXPECT_EQ(request.method, IPCMethod::connect);
    EXPECT_EQ(request.vlessRaw, "vless://a@b:1");
    EXPECT_EQ(request.serverName, std::nullopt);
    EXPECT_EQ(request.version, std::nullopt);
    EXPECT_TRUE(request.loggingEnabled);

    IPCDecodeError missing =
        requestFailure(R"({"method":"set_ad_block","loggingEnabled":false,"killSwitchEnabled":false})");
    EXPECT_EQ(missing.kind, IPCDecodeError::Kind::missingKey);
    EXPECT_EQ(missing.key, "adBlockEnabled");
    EXPECT_STREQ(missing.what(), "нет ключа «adBlockEnabled»");

    // A required key set to null is as missing as an absent one.
    EXPECT_EQ(requestFailure(
                  R"({"method":null,"loggingEnabled":false,"killSwitchEnabled":false,"adBlockEnabled":true})")
                  .kind,
              IPCDecodeError::Kind::missingKey);

    IPCDecodeError number = requestFailure(
        R"({"method":"ping","loggingEnabled":0,"killSwitchEnabled":false,"adBlockEnabled":true})");
    EXPECT_EQ(number.kind, IPCDecodeError::Kind::wrongType);
    EXPECT_EQ(number.key, "loggingEnabled");
    EXPECT_STREQ(number.what(), "неверный тип значения «loggingEnabled»");

    EXPECT_EQ(
        requestFailure(R"({"method":"ping","vlessRaw":5,"loggingEnabled":false,"killSwitchEnabled":false,)"
                       R"("adBlockEnabled":true})")
            .key,
        "vlessRaw");
    EXPECT_EQ(requestFailure(R"({"method":"ping","loggingEnabled":"false","killSwitchEnabled":false,)"
                             R"("adBlockEnabled":true})")
                  .kind,
              IPCDecodeError::Kind::wrongType);

    for (const char* method : {"reboot", "PING", "setKillSwitch", ""}) {
        IPCDecodeError unknown =
            requestFailure(std::string(R"({"method":")") + method +
                           R"(","loggingEnabled":false,"killSwitchEnabled":false,"adBlockEnabled":true})");
        EXPECT_EQ(unknown.kind, IPCDecodeError::Kind::badValue) << method;
        EXPECT_STREQ(unknown.what(), "недопустимое значение «method»");
    }

    EXPECT_EQ(requestFailure("").kind, IPCDecodeError::Kind::notJSON);
    EXPECT_EQ(requestFailure("{\"method\":").kind, IPCDecodeError::Kind::notJSON);
    EXPECT_EQ(requestFailure(R"({"method":"ping"} {})").kind, IPCDecodeError::Kind::notJSON);
    EXPECT_EQ(requestFailure("\"ping\"").kind, IPCDecodeError::Kind::notObject);
    EXPECT_EQ(requestFailure("[]").kind, IPCDecodeError::Kind::notObject);
    EXPECT_STREQ(requestFailure("[]").what(), "сообщение не является объектом JSON");
    // Texts on the wire are UTF-8; a stray byte fails the message, not just the field.
    EXPECT_EQ(requestFailure("{\"method\":\"ping\",\"serverName\":\"\xff\",\"loggingEnabled\":false,"
                             "\"killSwitchEnabled\":false,\"adBlockEnabled\":true}")
                  .kind,
              IPCDecodeError::Kind::notJSON);
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
    EXPECT_EQ(IPCResponse().encode(), R"({"ok":false})");

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
    EXPECT_EQ(IPCResponse::decode(adBlock.encode()), adBlock);

    for (TunnelState state :
         {TunnelState::disconnected, TunnelState::connecting, TunnelState::connected, TunnelState::error}) {
        IPCResponse response;
        response.ok = true;
        response.status = TunnelStatus::neutral();
        response.status->state = state;
        EXPECT_EQ(IPCResponse::decode(response.encode()), response) << wireText(state);
    }

    // JSON cannot carry infinity or NaN, and the writer must not fail over bad bytes.
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
    // Unknown keys inside the status are ignored as well; \u escapes are read.
    TunnelStatus status =
        *IPCResponse::decode(
             R"({"ok":true,"status":{"state":"error","serverName":"\u041c","message":"",)"
             R"("killSwitchEnabled":true,"killSwitchHold":true,"exitIP":"","adBlockEnabled":true,"x":1}})")
             .status;
    EXPECT_EQ(status.state, TunnelState::error);
    EXPECT_EQ(status.serverName, "М");
    EXPECT_TRUE(status.killSwitchHold);

    const std::string fullStatus =
        R"("state":"connected","serverName":"","message":"","killSwitchEnabled":false,)"
        R"("killSwitchHold":false,"exitIP":"","adBlockEnabled":true)";
    IPCDecodeError state =
        responseFailure(R"({"ok":true,"status":{"state":"paused","serverName":"","message":"",)"
                        R"("killSwitchEnabled":false,"killSwitchHold":false,"exitIP":"",)"
                        R"("adBlockEnabled":true}})");
    EXPECT_EQ(state.kind, IPCDecodeError::Kind::badValue);
    EXPECT_EQ(state.key, "status.state");
    IPCDecodeError exitIP =
        responseFailure(R"({"ok":true,"status":{"state":"connected","serverName":"",)"
                        R"("message":"","killSwitchEnabled":false,"killSwitchHold":false,)"
                        R"("adBlockEnabled":true}})");
    EXPECT_EQ(exitIP.kind, IPCDecodeError::Kind::missingKey);
    EXPECT_EQ(exitIP.key, "status.exitIP");
    EXPECT_EQ(responseFailure(R"({"ok":true,"status":{)" + fullStatus + R"(,"killSwitchHold":1}})").key,
              "status.killSwitchHold");
    EXPECT_EQ(responseFailure(R"({"ok":true,"status":"connected"})").key, "status");
    EXPECT_EQ(responseFailure(R"({"ok":true,"status":[]})").kind, IPCDecodeError::Kind::wrongType);

    EXPECT_EQ(responseFailure(R"({"error":"x"})").key, "ok");
    EXPECT_EQ(responseFailure(R"({"ok":1})").kind, IPCDecodeError::Kind::wrongType);
    EXPECT_EQ(responseFailure(R"({"ok":true,"error":false})").key, "error");
    EXPECT_EQ(responseFailure(R"({"ok":true,"needReconnect":"yes"})").key, "needReconnect");
    // The JSON library would turn true into 1.0 if asked for a number.
    EXPECT_EQ(responseFailure(R"({"ok":true,"mbps":true})").kind, IPCDecodeError::Kind::wrongType);
    EXPECT_EQ(responseFailure(R"({"ok":true,"mbps":"93"})").kind, IPCDecodeError::Kind::wrongType);
    // Out of a double's range is not a number the reader accepts at all.
    EXPECT_EQ(responseFailure(R"({"ok":true,"mbps":1e400})").kind, IPCDecodeError::Kind::notJSON);
}

TEST(IPCProtocol, DeeplyNestedUnknownValuesDoNotExhaustTheStack) {
    // The reader collects up to 4 MiB; a line that deep must fail or pass, not crash.
    std::string deep =
        R"({"ok":true,"junk":)" + std::string(1'000'000, '[') + std::string(1'000'000, ']') + "}";
    EXPECT_TRUE(IPCResponse::decode(deep).ok);
}

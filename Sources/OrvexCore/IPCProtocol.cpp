#include "IPCProtocol.h"

#include <array>
#include <cmath>
#include <nlohmann/json.hpp>
#include <utility>

namespace orvex {

namespace {

constexpr std::array<std::pair<IPCMethod, std::string_view>, 10> methodTexts{{
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
}};

constexpr std::array<std::pair<TunnelState, std::string_view>, 4> stateTexts{{
    {TunnelState::disconnected, "disconnected"},
    {TunnelState::connecting, "connecting"},
    {TunnelState::connected, "connected"},
    {TunnelState::error, "error"},
}};

std::string describe(IPCDecodeError::Kind kind, const std::string& key) {
    switch (kind) {
    case IPCDecodeError::Kind::notJSON:
        return "сообщение не в формате JSON";
    case IPCDecodeError::Kind::notObject:
        return "сообщение не является объектом JSON";
    case IPCDecodeError::Kind::missingKey:
        return "нет ключа «" + key + "»";
    case IPCDecodeError::Kind::wrongType:
        return "неверный тип значения «" + key + "»";
    case IPCDecodeError::Kind::badValue:
        return "недопустимое значение «" + key + "»";
    }
    return {};
}

// Encoding keeps the fields in their declared order so that log lines read naturally; the
// reader does not care about order.
using OrderedJSON = nlohmann::ordered_json;
// Decoding uses the sorted map: the insertion-ordered one checks every key linearly, which
// would make a message stuffed with unknown keys quadratic to read.
using JSON = nlohmann::json;

std::string dump(const OrderedJSON& value) {
    // Texts that reach a message (engine output, server names) are not guaranteed UTF-8;
    // replacing bad bytes keeps the exchange alive where the default would throw.
    return value.dump(-1, ' ', false, OrderedJSON::error_handler_t::replace);
}

JSON parseObject(std::string_view text) {
    JSON value = JSON::parse(text.begin(), text.end(), nullptr, false);
    if (value.is_discarded()) throw IPCDecodeError(IPCDecodeError::Kind::notJSON);
    if (!value.is_object()) throw IPCDecodeError(IPCDecodeError::Kind::notObject);
    return value;
}

// Reads the keys of one JSON object; `prefix` names the object for error descriptions.
class Reader {
public:
    Reader(const JSON& object, std::string prefix) : object_(object), prefix_(std::move(prefix)) {}

    // Null and absent are the same to every reader.
    const JSON* find(const char* key) const {
        auto it = object_.find(key);
        if (it == object_.end() || it->is_null()) return nullptr;
        return &*it;
    }
    const JSON& require(const char* key) const {
        const JSON* value = find(key);
        if (!value) throw IPCDecodeError(IPCDecodeError::Kind::missingKey, path(key));
        return *value;
    }
    std::string path(const char* key) const { return prefix_.empty() ? key : prefix_ + "." + key; }
    void typeCheck(bool matches, const char* key) const {
        if (!matches) throw IPCDecodeError(IPCDecodeError::Kind::wrongType, path(key));
    }

    bool boolean(const char* key) const {
        const JSON& value = require(key);
        typeCheck(value.is_boolean(), key);
        return value.get<bool>();
    }
    std::string text(const char* key) const {
        const JSON& value = require(key);
        typeCheck(value.is_string(), key);
        return value.get<std::string>();
    }
    std::optional<bool> optionalBoolean(const char* key) const {
        if (!find(key)) return std::nullopt;
        return boolean(key);
    }
    std::optional<std::string> optionalText(const char* key) const {
        if (!find(key)) return std::nullopt;
        return text(key);
    }

private:
    const JSON& object_;
    std::string prefix_;
};

OrderedJSON statusJSON(const TunnelStatus& status) {
    OrderedJSON out = OrderedJSON::object();
    out["state"] = wireText(status.state);
    out["serverName"] = status.serverName;
    out["message"] = status.message;
    out["killSwitchEnabled"] = status.killSwitchEnabled;
    out["killSwitchHold"] = status.killSwitchHold;
    out["exitIP"] = status.exitIP;
    out["adBlockEnabled"] = status.adBlockEnabled;
    return out;
}

TunnelStatus decodeStatus(const Reader& reader) {
    TunnelStatus status;
    auto state = tunnelStateFromWire(reader.text("state"));
    if (!state) throw IPCDecodeError(IPCDecodeError::Kind::badValue, reader.path("state"));
    status.state = *state;
    status.serverName = reader.text("serverName");
    status.message = reader.text("message");
    status.killSwitchEnabled = reader.boolean("killSwitchEnabled");
    status.killSwitchHold = reader.boolean("killSwitchHold");
    status.exitIP = reader.text("exitIP");
    status.adBlockEnabled = reader.boolean("adBlockEnabled");
    return status;
}

} // namespace

std::string_view wireText(IPCMethod method) {
    for (const auto& [value, text] : methodTexts)
        if (value == method) return text;
    return {};
}

std::string_view wireText(TunnelState state) {
    for (const auto& [value, text] : stateTexts)
        if (value == state) return text;
    return {};
}

std::optional<IPCMethod> ipcMethodFromWire(std::string_view text) {
    for (const auto& [value, wire] : methodTexts)
        if (wire == text) return value;
    return std::nullopt;
}

std::optional<TunnelState> tunnelStateFromWire(std::string_view text) {
    for (const auto& [value, wire] : stateTexts)
        if (wire == text) return value;
    return std::nullopt;
}

IPCDecodeError::IPCDecodeError(Kind kind, std::string key)
    : Error(describe(kind, key)), kind(kind), key(std::move(key)) {}

std::string IPCRequest::encode() const {
    OrderedJSON out = OrderedJSON::object();
    out["method"] = wireText(method);
    if (vlessRaw) out["vlessRaw"] = *vlessRaw;
    if (serverName) out["serverName"] = *serverName;
    out["loggingEnabled"] = loggingEnabled;
    out["killSwitchEnabled"] = killSwitchEnabled;
    out["adBlockEnabled"] = adBlockEnabled;
    if (version) out["version"] = *version;
    return dump(out);
}

IPCRequest IPCRequest::decode(std::string_view json) {
    JSON object = parseObject(json);
    Reader reader(object, {});
    IPCRequest request;
    auto method = ipcMethodFromWire(reader.text("method"));
    if (!method) throw IPCDecodeError(IPCDecodeError::Kind::badValue, "method");
    request.method = *method;
    request.vlessRaw = reader.optionalText("vlessRaw");
    request.serverName = reader.optionalText("serverName");
    request.loggingEnabled = reader.boolean("loggingEnabled");
    request.killSwitchEnabled = reader.boolean("killSwitchEnabled");
    request.adBlockEnabled = reader.boolean("adBlockEnabled");
    request.version = reader.optionalText("version");
    return request;
}

IPCResponse IPCResponse::failure(std::string text) {
    IPCResponse response;
    response.error = std::move(text);
    return response;
}

std::string IPCResponse::encode() const {
    OrderedJSON out = OrderedJSON::object();
    out["ok"] = ok;
    if (error) out["error"] = *error;
    if (status) out["status"] = statusJSON(*status);
    // JSON has no infinity or NaN; the library would write null, which reads back as absent
    // anyway, so leaving the key out says the same thing honestly.
    if (mbps && std::isfinite(*mbps)) out["mbps"] = *mbps;
    if (needReconnect) out["needReconnect"] = *needReconnect;
    return dump(out);
}

IPCResponse IPCResponse::decode(std::string_view json) {
    JSON object = parseObject(json);
    Reader reader(object, {});
    IPCResponse response;
    response.ok = reader.boolean("ok");
    response.error = reader.optionalText("error");
    if (const JSON* status = reader.find("status")) {
        reader.typeCheck(status->is_object(), "status");
        response.status = decodeStatus(Reader(*status, "status"));
    }
    if (const JSON* mbps = reader.find("mbps")) {
        reader.typeCheck(mbps->is_number(), "mbps");
        response.mbps = mbps->get<double>();
    }
    response.needReconnect = reader.optionalBoolean("needReconnect");
    return response;
}

} // namespace orvex

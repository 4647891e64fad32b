#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "Error.h"

// The messages between the application and the privileged service: one request and one
// response per connection, each a single line of compact JSON.
namespace orvex {

enum class IPCMethod {
    ping,
    connect,
    disconnect,
    status,
    setLogging,
    checkInternet,
    speedTest,
    setKillSwitch,
    setAdBlock,
    installUpdate,
};

enum class TunnelState { disconnected, connecting, connected, error };

// The texts that stand for the enumerations on the wire ("set_kill_switch", "connected").
std::string_view wireText(IPCMethod method);
std::string_view wireText(TunnelState state);
std::optional<IPCMethod> ipcMethodFromWire(std::string_view text);
std::optional<TunnelState> tunnelStateFromWire(std::string_view text);

// A message that could not be read. what() is a short Russian description of the problem;
// the service puts it after "не разобран запрос: ".
class IPCDecodeError : public Error {
public:
    enum class Kind { notJSON, notObject, missingKey, wrongType, badValue };
    IPCDecodeError(Kind kind, std::string key = {});

    Kind kind;
    std::string key; // dotted path of the offending key ("status.state"); empty for the whole message
};

// The service's view of the tunnel. A default-constructed status is the neutral one that
// stands in for a status a response left out: disconnected, empty texts, kill switch off,
// ad blocking on.
struct TunnelStatus {
    TunnelState state = TunnelState::disconnected;
    std::string serverName;
    std::string message;
    bool killSwitchEnabled = false;
    bool killSwitchHold = false;
    std::string exitIP;
    bool adBlockEnabled = true;

    static TunnelStatus neutral() { return {}; }
    bool operator==(const TunnelStatus&) const = default;
};

// Defaults are what the application sends unless the method sets a field.
struct IPCRequest {
    IPCMethod method = IPCMethod::ping;
    std::optional<std::string> vlessRaw;
    std::optional<std::string> serverName;
    bool loggingEnabled = false;
    bool killSwitchEnabled = false;
    bool adBlockEnabled = true;
    std::optional<std::string> version;

    // One line of compact JSON without the line feed; absent fields are left out. Never
    // throws: bytes that are not UTF-8 are replaced rather than failing the exchange.
    std::string encode() const;
    // Null counts as absent, unknown keys are ignored; throws IPCDecodeError.
    static IPCRequest decode(std::string_view json);

    bool operator==(const IPCRequest&) const = default;
};

struct IPCResponse {
    bool ok = false;
    std::optional<std::string> error;
    std::optional<TunnelStatus> status;
    std::optional<double> mbps; // megabits per second
    std::optional<bool> needReconnect;

    static IPCResponse failure(std::string text);

    // As for IPCRequest. A non-finite `mbps` cannot be written in JSON and is left out.
    std::string encode() const;
    static IPCResponse decode(std::string_view json);

    bool operator==(const IPCResponse&) const = default;
};

} // namespace orvex

#pragma once

#include <string>

#include "Error.h"
#include "IPCProtocol.h"

namespace orvex {

// The service refused a request, or gave no answer at all.
class DaemonError : public Error {
public:
    enum class Kind { refused, noAnswer };

    // what() is `text`: the service's own error, or the operation's fallback.
    static DaemonError refused(std::string text);
    static DaemonError noAnswer();

    Kind kind;

private:
    DaemonError(Kind kind, const std::string& text);
};

// The application's side of the service protocol: one blocking call per request method, each
// on a fresh connection to Paths::socket() with its own time limit, without retries. Called
// from background work, never from the interface thread. Transport failures
// (UnixSocket::SocketError) and unreadable answers (IPCDecodeError) reach the caller as they
// are.
namespace DaemonClient {

// One exchange; `timeout` in seconds, applied to every send and receive. An empty answer
// (the service closed without one, or the limit ran out first) is DaemonError::noAnswer.
IPCResponse send(const IPCRequest& request, double timeout);

// True when the service answers a ping with ok; every failure counts as false.
bool isRunning();
TunnelStatus status();
TunnelStatus connect(const std::string& vlessRaw, const std::string& serverName);
TunnelStatus disconnect();
void setLogging(bool enabled);
TunnelStatus setKillSwitch(bool enabled);

struct AdBlockResult {
    TunnelStatus status;
    bool needReconnect = false; // the change takes effect with the next connection
};
AdBlockResult setAdBlock(bool enabled);

TunnelStatus checkInternet();
// Megabits per second.
double speedTest();
void installUpdate(const std::string& version);

} // namespace DaemonClient

} // namespace orvex

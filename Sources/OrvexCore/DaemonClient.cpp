#include "DaemonClient.h"

#include <exception>

#include "Paths.h"
#include "UnixSocket.h"

namespace orvex {

DaemonError::DaemonError(Kind kind, const std::string& text) : Error(text), kind(kind) {}

DaemonError DaemonError::refused(std::string text) { return DaemonError(Kind::refused, text); }

DaemonError DaemonError::noAnswer() { return DaemonError(Kind::noAnswer, "Фоновая служба не отвечает"); }

namespace DaemonClient {

namespace {

IPCRequest make(IPCMethod method) {
    IPCRequest request;
    request.method = method;
    return request;
}

// A refusal shows the service's reason; an empty reason would leave the user a blank
// message, so it counts as none.
void throwIfRefused(const IPCResponse& response, const char* fallback) {
    if (response.ok) return;
    if (response.error && !response.error->empty()) throw DaemonError::refused(*response.error);
    throw DaemonError::refused(fallback);
}

TunnelStatus statusOrNeutral(const IPCResponse& response) {
    return response.status.value_or(TunnelStatus::neutral());
}

} // namespace

IPCResponse send(const IPCRequest& request, double timeout) {
    std::string answer = UnixSocket::request(Paths::socket(), request.encode(), timeout);
    if (answer.empty()) throw DaemonError::noAnswer();
    return IPCResponse::decode(answer);
}

bool isRunning() {
    try {
        return send(make(IPCMethod::ping), 2).ok;
    } catch (const std::exception&) {
        return false;
    }
}

TunnelStatus status() {
    IPCResponse response = send(make(IPCMethod::status), 5);
    if (!response.status) throw DaemonError::noAnswer();
    return *response.status;
}

TunnelStatus connect(const std::string& vlessRaw, const std::string& serverName) {
    IPCRequest request = make(IPCMethod::connect);
    request.vlessRaw = vlessRaw;
    request.serverName = serverName;
    IPCResponse response = send(request, 60);
    throwIfRefused(response, "не удалось подключиться");
    return statusOrNeutral(response);
}

TunnelStatus disconnect() {
    IPCResponse response = send(make(IPCMethod::disconnect), 30);
    throwIfRefused(response, "не удалось отключиться");
    return statusOrNeutral(response);
}

void setLogging(bool enabled) {
    IPCRequest request = make(IPCMethod::setLogging);
    request.loggingEnabled = enabled;
    send(request, 5);
}

TunnelStatus setKillSwitch(bool enabled) {
    IPCRequest request = make(IPCMethod::setKillSwitch);
    request.killSwitchEnabled = enabled;
    return statusOrNeutral(send(request, 5));
}

AdBlockResult setAdBlock(bool enabled) {
    IPCRequest request = make(IPCMethod::setAdBlock);
    request.adBlockEnabled = enabled;
    IPCResponse response = send(request, 5);
    throwIfRefused(response, "не удалось изменить настройку");
    return {statusOrNeutral(response), response.needReconnect.value_or(false)};
}

TunnelStatus checkInternet() { return statusOrNeutral(send(make(IPCMethod::checkInternet), 20)); }

double speedTest() {
    IPCResponse response = send(make(IPCMethod::speedTest), 40);
    throwIfRefused(response, "замер не удался");
    if (!response.mbps) throw DaemonError::refused("замер не удался");
    return *response.mbps;
}

void installUpdate(const std::string& version) {
    IPCRequest request = make(IPCMethod::installUpdate);
    request.version = version;
    // The service may take its manifest wait, the download and the installer's limit one after
    // another (about 960 s); giving up sooner would let the application start a second
    // installer beside the one still running.
    throwIfRefused(send(request, 1200), "обновление не установлено");
}

} // namespace DaemonClient

} // namespace orvex

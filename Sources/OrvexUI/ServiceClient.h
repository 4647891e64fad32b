#pragma once

#include <memory>
#include <string>

#include "DaemonClient.h"
#include "IPCProtocol.h"

namespace orvex {

// The application's view of the privileged service, one blocking call per request. The
// production client is DaemonClient over the service socket; tests put a scripted service in
// its place. Called from worker threads only.
class ServiceClient {
public:
    virtual ~ServiceClient() = default;

    virtual bool isRunning() = 0;
    virtual TunnelStatus status() = 0;
    virtual TunnelStatus connect(const std::string& vlessRaw, const std::string& serverName) = 0;
    virtual TunnelStatus disconnect() = 0;
    virtual void setLogging(bool enabled) = 0;
    virtual TunnelStatus setKillSwitch(bool enabled) = 0;
    virtual DaemonClient::AdBlockResult setAdBlock(bool enabled) = 0;
    virtual TunnelStatus checkInternet() = 0;
    virtual void installUpdate(const std::string& version) = 0;

    static std::shared_ptr<ServiceClient> system();
};

} // namespace orvex

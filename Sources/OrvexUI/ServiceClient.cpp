#include "ServiceClient.h"

namespace orvex {

namespace {

class SocketServiceClient final : public ServiceClient {
public:
    bool isRunning() override { return DaemonClient::isRunning(); }
    TunnelStatus status() override { return DaemonClient::status(); }
    TunnelStatus connect(const std::string& vlessRaw, const std::string& serverName) override {
        return DaemonClient::connect(vlessRaw, serverName);
    }
    TunnelStatus disconnect() override { return DaemonClient::disconnect(); }
    void setLogging(bool enabled) override { DaemonClient::setLogging(enabled); }
    TunnelStatus setKillSwitch(bool enabled) override { return DaemonClient::setKillSwitch(enabled); }
    DaemonClient::AdBlockResult setAdBlock(bool enabled) override {
        return DaemonClient::setAdBlock(enabled);
    }
    TunnelStatus checkInternet() override { return DaemonClient::checkInternet(); }
    void installUpdate(const std::string& version) override { DaemonClient::installUpdate(version); }
};

} // namespace

std::shared_ptr<ServiceClient> ServiceClient::system() { return std::make_shared<SocketServiceClient>(); }

} // namespace orvex

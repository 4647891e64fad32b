#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "Shell.h"

namespace orvex {

class Log;

// What the tunnel changes in the system's networking to send traffic through the engine, one
// implementation per personality. The tunnel drives every one the same way: configure once the
// engine answers, holdTraffic for the kill switch, teardown to undo either. No lock of its own:
// the tunnel serialises all calls.
class NetworkChanger {
public:
    struct DefaultRoute {
        std::string gateway;
        std::string localIP; // IPv4 address of `iface`; may be empty
        std::string iface;   // may be empty
    };
    struct Capture {
        std::string iface;                // the bridge's interface
        std::string serverHost;           // the VPN server, kept out of the capture
        std::string gateway;              // the current default route's gateway
        bool blockAds = false;            // chooses the DNS pair
        std::string physicalIface;        // split routing's direct exit; empty when split is off
        std::int64_t transparentPort = 0; // the engine's inbound for redirected TCP, where it has one
        std::int64_t tproxyPort = 0;      // its TPROXY inbound: UDP, and TCP to the DNS pair
    };
    using InterfaceReader = std::function<std::set<std::string>()>;

    virtual ~NetworkChanger() = default;

    // The changer of the current personality.
    static std::unique_ptr<NetworkChanger> forPlatform(Log& log, Shell::Runner runner,
                                                       InterfaceReader upInterfaces);
    // Run once at service start: undoes what a service that died while connected left behind,
    // as the current personality's changer recorded it.
    static void recover(Log& log, const Shell::Runner& runner);
    // The system's IPv4 default route as the current personality's tools report it; nothing
    // when there is none or it cannot be read.
    static std::optional<DefaultRoute> currentDefaultRoute(const Shell::Runner& runner);

    // True when traffic goes straight to the engine's transparent inbound; false when a bridge
    // program has to carry it from an interface of its own (Capture::iface) to the engine.
    virtual bool transparent() const = 0;

    // Full set-up; a failure leaves nothing changed behind and throws.
    virtual void configure(const Capture& capture) = 0;
    // Kill-switch set-up: nothing but what stays on the machine gets through. Throws like
    // configure.
    virtual void holdTraffic(const std::string& iface) = 0;
    // Undoes everything done; never fails, every failed command is only logged.
    virtual void teardown() = 0;
};

} // namespace orvex

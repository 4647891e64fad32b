#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "NetworkChanger.h"
#include "RoutingError.h"
#include "RoutingJournal.h"
#include "Shell.h"

namespace orvex {

class Log;

// The network changes behind one tunnel: the interface address, the server's bypass route,
// the two half-space routes into the tunnel, a scoped default for the engine's direct exit,
// the IPv6 block and the DNS servers of every active network service. Everything done is
// recorded so that teardown() undoes exactly that. No lock of its own: the tunnel serialises
// all calls.
class Routing : public NetworkChanger {
public:
    // `runner` runs the system tools, `upInterfaces` lists the interfaces that are up. DNS
    // settings that the journal still owes to the user are adopted as this one's own to undo.
    explicit Routing(Log& log, Shell::Runner runner = Shell::run,
                     InterfaceReader upInterfaces = &Routing::upInterfaces);

    // Full tunnel set-up. A failure after the first route has been added undoes everything
    // before it throws RoutingError; a failure at the address step has changed nothing.
    void configure(const std::string& iface, const std::string& serverHost, const std::string& gateway,
                   bool blockAds, const std::string& physicalIface);
    void configure(const Capture& capture) override;
    bool transparent() const override { return false; }
    // Kill-switch set-up: every IPv4 packet into `iface`, whose bridge leads nowhere, and IPv6
    // rejected. Throws RoutingError like configure.
    void holdTraffic(const std::string& iface) override;
    // Undoes everything recorded; never fails, every failed command is only logged.
    void teardown() override;

    // Whether `ifconfig <iface>` shows the interface up.
    static bool interfaceUp(const Shell::Runner& runner, const std::string& iface);

    // Run once at service start: removes IPv6 reject routes an earlier run left behind.
    static void clearStaleIPv6Block(Log& log, const Shell::Runner& runner = Shell::run);
    // Run once at service start, before clearStaleIPv6Block: undoes what a service that died
    // while connected left behind according to its journal, then removes the journal.
    static void recoverFromJournal(Log& log, const Shell::Runner& runner = Shell::run);

    // Readers of the current network state; every failure means no reading.
    static std::optional<DefaultRoute> defaultRoute(const Shell::Runner& runner = Shell::run);
    static std::set<std::string> upInterfaces();
    static std::string ipv4(const std::string& iface);
    static std::optional<std::string> resolveIPv4(const std::string& host);

private:
    bool step(const std::string& label, const Shell::Result& result);
    void addScopedDefault(const std::string& iface, const std::string& gateway);
    // Both return whether nothing is left to undo.
    bool removeScopedDefault();
    void blockIPv6();
    bool unblockIPv6();
    void setDNS(bool blockAds);

    Shell::Result route(const std::vector<std::string>& arguments);
    Shell::Result ifconfig(const std::vector<std::string>& arguments);
    Shell::Result networksetup(const std::vector<std::string>& arguments);

    RoutingJournal::Record record() const;
    // Writes `pending` before the change it describes is made, so that a crash in between
    // errs on the side of undoing something that was never done.
    void journal(const RoutingJournal::Record& pending);

    Log& log_;
    Shell::Runner runner_;
    InterfaceReader upInterfaces_;
    bool journaled_ = false;

    std::string iface_;
    std::string serverIP_;
    bool ipv6Blocked_ = false;
    std::string scopedIface_;
    std::string scopedGateway_;
    std::map<std::string, std::string> dnsBackup_;
};

} // namespace orvex

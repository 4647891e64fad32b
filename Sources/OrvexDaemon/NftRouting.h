#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "NetworkChanger.h"
#include "Shell.h"

namespace orvex {

class Log;

// The Linux network changes behind one tunnel. Everything lives in one nftables table,
// `inet orvex`, replaced in one nft transaction so that it is either wholly in or not there:
// TCP is redirected to the engine's transparent port; UDP, and TCP to port 53, are marked and
// handed to its TPROXY port; every port-53 query is steered to the DNS pair first; IPv6 is
// refused. The marked packets reach the engine through a policy-routing rule and a local route
// in a table of our own. The ruleset file is written before any change and stays until all is
// undone: it is the crash journal, and the next start replays it as a tear-down.
class NftRouting : public NetworkChanger {
public:
    // The mark on captured UDP and the routing table that delivers it locally.
    static constexpr int captureMark = 0x4f52;
    static constexpr int localTable = 20306;

    explicit NftRouting(Log& log, Shell::Runner runner = Shell::run);

    bool transparent() const override { return true; }
    // Sends traffic to Capture::transparentPort on 127.0.0.1. Throws RoutingError after undoing
    // whatever was done.
    void configure(const Capture& capture) override;
    // Drops everything but loopback; `iface` is unused, nothing here needs an interface.
    void holdTraffic(const std::string& iface) override;
    void teardown() override;

    // Run once at service start: removes what the journal says a killed service left behind,
    // and a table of ours found without a journal.
    static void recoverFromJournal(Log& log, const Shell::Runner& runner = Shell::run);

    // `ip -4 route show default`: the gateway (empty for a point-to-point link) and the
    // interface; nothing when there is no default route.
    static std::optional<DefaultRoute> defaultRoute(const Shell::Runner& runner = Shell::run);

    static std::string journalPath();
    static std::string captureRuleset(const std::string& serverIP, std::int64_t port, std::int64_t tproxyPort,
                                      const std::pair<std::string, std::string>& dns);
    static std::string holdRuleset();

private:
    // Writes `ruleset` as the journal, from where nft loads it; false when it could not.
    bool writeJournal(const std::string& ruleset);
    // Runs the tool at `path` and logs the command and its outcome.
    bool run(const char* path, const std::vector<std::string>& arguments);
    // Undoes what was done so far and throws RoutingError with `message`.
    [[noreturn]] void fail(const std::string& message);

    Log& log_;
    Shell::Runner runner_;
    bool journaled_ = false;
    bool ruleAdded_ = false;
    bool routeAdded_ = false;
    bool tableApplied_ = false;
    bool holding_ = false; // the table in place is the hold
};

} // namespace orvex

#include "NetworkChanger.h"

#include "NftRouting.h"
#include "Platform.h"
#include "Routing.h"

namespace orvex {

namespace {

bool capturesWithNftables() {
    return Platform::current().networkChanger == Platform::NetworkChanger::nftables;
}

} // namespace

std::unique_ptr<NetworkChanger> NetworkChanger::forPlatform(Log& log, Shell::Runner runner,
                                                            InterfaceReader upInterfaces) {
    if (capturesWithNftables()) return std::make_unique<NftRouting>(log, std::move(runner));
    return std::make_unique<Routing>(log, std::move(runner), std::move(upInterfaces));
}

std::optional<NetworkChanger::DefaultRoute> NetworkChanger::currentDefaultRoute(const Shell::Runner& runner) {
    if (capturesWithNftables()) return NftRouting::defaultRoute(runner);
    return Routing::defaultRoute(runner);
}

void NetworkChanger::recover(Log& log, const Shell::Runner& runner) {
    if (capturesWithNftables()) {
        NftRouting::recoverFromJournal(log, runner);
        return;
    }
    Routing::recoverFromJournal(log, runner);
    Routing::clearStaleIPv6Block(log, runner);
}

} // namespace orvex

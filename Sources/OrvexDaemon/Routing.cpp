#include "Routing.h"

#include "Log.h"
#include "Paths.h"
#include "RoutingParsing.h"
#include "XrayConfig.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <memory>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>

namespace orvex {

namespace {

constexpr const char* tunnelLocalAddress = "198.18.0.1";
constexpr const char* tunnelPeerAddress = "198.18.0.2";
constexpr const char* ipv4HalfRoutes[] = {"0.0.0.0/1", "128.0.0.0/1"};
constexpr const char* ipv6HalfRoutes[] = {"::/1", "8000::/1"};
constexpr const char* ipv6RejectGateway = "::1";
constexpr const char* ipv6FallbackInterface = "lo0";

constexpr const char* routeTool = "/sbin/route";
constexpr const char* ifconfigTool = "/sbin/ifconfig";
constexpr const char* networksetupTool = "/usr/sbin/networksetup";
constexpr double routeTimeout = 15;
constexpr double ifconfigTimeout = 15;
constexpr double networksetupTimeout = 20;

std::vector<std::string> words(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream stream(text);
    for (std::string word; stream >> word;) result.push_back(word);
    return result;
}

bool isAddress(std::string text) {
    text = text.substr(0, text.find('%')); // a link-local server carries its zone
    unsigned char buffer[sizeof(in6_addr)];
    return inet_pton(AF_INET, text.c_str(), buffer) == 1 || inet_pton(AF_INET6, text.c_str(), buffer) == 1;
}

// A reading we can put back: nothing, or only addresses. Anything else is a message of the
// tool that found its way to standard output, and restoring it would fail.
bool restorable(const std::string& servers) {
    for (const auto& server : words(servers))
        if (!isAddress(server)) return false;
    return true;
}

bool isStub(const Shell::Result& lookup) {
    return lookup.ok() && RoutingParsing::defaultRouteFields(lookup.output).iface == ipv6FallbackInterface;
}

// The classic parser also takes shorthand such as "10.1" or a bare number; only a full dotted
// quad counts as already resolved.
bool fourDottedPieces(const std::string& host) {
    int pieces = 0;
    for (size_t start = 0;;) {
        auto dot = host.find('.', start);
        auto end = dot == std::string::npos ? host.size() : dot;
        if (end == start) return false;
        ++pieces;
        if (dot == std::string::npos) return pieces == 4;
        start = dot + 1;
    }
}

struct InterfaceList {
    ifaddrs* first = nullptr;
    InterfaceList() {
        if (getifaddrs(&first) != 0) first = nullptr;
    }
    ~InterfaceList() {
        if (first != nullptr) freeifaddrs(first);
    }
    InterfaceList(const InterfaceList&) = delete;
    InterfaceList& operator=(const InterfaceList&) = delete;
};

} // namespace

Routing::Routing(Log& log, Shell::Runner runner, InterfaceReader upInterfaces)
    : log_(log), runner_(std::move(runner)), upInterfaces_(std::move(upInterfaces)) {
    // A user's DNS that an earlier tear-down of this run could not put back is still owed to
    // them: it is carried into every later journal and restored by our tear-down. The servers
    // read now would be ours.
    try {
        if (auto left = RoutingJournal::load()) dnsBackup_ = left->dnsBackup;
    } catch (const std::exception&) {
        // Unreadable: the next start reports and removes it.
    }
    journaled_ = !dnsBackup_.empty();
}

Shell::Result Routing::route(const std::vector<std::string>& arguments) {
    return runner_(Paths::relocate(routeTool), arguments, routeTimeout);
}

Shell::Result Routing::ifconfig(const std::vector<std::string>& arguments) {
    return runner_(Paths::relocate(ifconfigTool), arguments, ifconfigTimeout);
}

Shell::Result Routing::networksetup(const std::vector<std::string>& arguments) {
    return runner_(Paths::relocate(networksetupTool), arguments, networksetupTimeout);
}

bool Routing::step(const std::string& label, const Shell::Result& result) {
    if (!result.ok()) {
        log_.write("routing: " + label + ": ошибка: " + result.output);
        return false;
    }
    std::string line = "routing: " + label + ": ok";
    if (!result.output.empty()) line += " (" + result.output + ")";
    log_.write(line);
    return true;
}

RoutingJournal::Record Routing::record() const {
    return {serverIP_, scopedIface_, scopedGateway_, ipv6Blocked_, dnsBackup_};
}

void Routing::journal(const RoutingJournal::Record& pending) {
    journaled_ = true;
    if (!RoutingJournal::save(pending))
        log_.write("routing: не удалось записать журнал изменений " + RoutingJournal::path());
}

void Routing::configure(const std::string& iface, const std::string& serverHost, const std::string& gateway,
                        bool blockAds, const std::string& physicalIface) {
    log_.write("routing: настройка начата iface=" + iface + " server=" + serverHost + " шлюз=" + gateway);
    iface_ = iface;

    auto address = resolveIPv4(serverHost);
    if (!address) throw RoutingError::step("не удалось определить IP сервера (" + serverHost + ")");
    log_.write("routing: IP сервера определён: " + *address);

    auto assigned = ifconfig({iface, tunnelLocalAddress, tunnelPeerAddress, "up"});
    if (!step("ifconfig (адрес utun)", assigned))
        throw RoutingError::step("не удалось назначить адрес интерфейсу " + iface + ": " + assigned.output);

    route({"-n", "delete", "-host", *address});
    auto pending = record();
    pending.serverIP = *address;
    journal(pending);
    auto bypass = route({"-n", "add", "-host", *address, gateway});
    if (!step("route add (обход для сервера)", bypass)) {
        teardown();
        throw RoutingError::step("не удалось увести трафик к серверу мимо туннеля: " + bypass.output);
    }
    serverIP_ = *address;

    for (std::string net : ipv4HalfRoutes) {
        route({"-n", "delete", "-net", net, "-interface", iface});
        auto added = route({"-n", "add", "-net", net, "-interface", iface});
        if (!step("route add " + net, added)) {
            teardown();
            throw RoutingError::step("не удалось завернуть трафик в туннель (" + net + "): " + added.output);
        }
    }

    addScopedDefault(physicalIface, gateway);
    blockIPv6();
    try {
        setDNS(blockAds);
    } catch (const RoutingError& error) {
        log_.write(std::string("routing: DNS не переключён (не фатально): ") + error.what());
    }
    log_.write("routing: настройка завершена успешно");
}

void Routing::configure(const Capture& capture) {
    configure(capture.iface, capture.serverHost, capture.gateway, capture.blockAds, capture.physicalIface);
}

void Routing::holdTraffic(const std::string& iface) {
    log_.write("routing: блокировка, интерфейс " + iface);
    iface_ = iface;

    auto assigned = ifconfig({iface, tunnelLocalAddress, tunnelPeerAddress, "up"});
    if (!step("ifconfig (адрес utun для блокировки)", assigned))
        throw RoutingError::step("не удалось назначить адрес интерфейсу " + iface + ": " + assigned.output);

    for (std::string net : ipv4HalfRoutes) {
        route({"-n", "delete", "-net", net, "-interface", iface});
        auto added = route({"-n", "add", "-net", net, "-interface", iface});
        if (!step("route add " + net + " (блокировка)", added)) {
            teardown();
            throw RoutingError::step("не удалось установить блокировку (" + net + "): " + added.output);
        }
    }

    blockIPv6();
    log_.write("routing: блокировка установлена");
}

void Routing::addScopedDefault(const std::string& iface, const std::string& gateway) {
    if (iface.empty() || gateway.empty()) return;
    route({"-n", "delete", "-ifscope", iface, "default", gateway});
    auto pending = record();
    pending.scopedIface = iface;
    pending.scopedGateway = gateway;
    journal(pending);
    auto added = route({"-n", "add", "-ifscope", iface, "default", gateway});
    if (step("route add -ifscope " + iface + " default (для прямого выхода)", added)) {
        scopedIface_ = iface;
        scopedGateway_ = gateway;
    } else {
        journal(record());
    }
}

bool Routing::removeScopedDefault() {
    if (scopedIface_.empty()) return true;
    bool removed = step("route delete -ifscope " + scopedIface_ + " default",
                        route({"-n", "delete", "-ifscope", scopedIface_, "default", scopedGateway_}));
    scopedIface_.clear();
    scopedGateway_.clear();
    return removed;
}

void Routing::blockIPv6() {
    if (!ipv6Blocked_) {
        auto pending = record();
        pending.ipv6Blocked = true;
        journal(pending);
    }
    for (std::string net : ipv6HalfRoutes) {
        if (isStub(route({"-n", "get", "-inet6", net}))) route({"-n", "delete", "-inet6", "-net", net});
        auto added = route({"-n", "add", "-inet6", "-net", net, ipv6RejectGateway, "-reject"});
        if (!added.ok())
            added = route({"-n", "add", "-inet6", "-net", net, "-interface", ipv6FallbackInterface});
        if (step("route add " + net + " (заглушка IPv6)", added)) ipv6Blocked_ = true;
    }
    if (!ipv6Blocked_) journal(record());
}

bool Routing::unblockIPv6() {
    if (!ipv6Blocked_) return true;
    bool lifted = true;
    for (std::string net : ipv6HalfRoutes) {
        if (!step("route delete " + net + " (снятие заглушки IPv6)",
                  route({"-n", "delete", "-inet6", "-net", net})))
            lifted = false;
    }
    ipv6Blocked_ = false;
    return lifted;
}

void Routing::setDNS(bool blockAds) {
    auto [primary, secondary] = XrayConfig::dnsPair(blockAds);
    log_.write(std::string("routing: DNS блокировка рекламы=") + (blockAds ? "true" : "false") +
               ", серверы " + primary + "/" + secondary);

    std::vector<std::string> services;
    auto listed = networksetup({"-listnetworkserviceorder"});
    if (listed.ok()) services = RoutingParsing::serviceOrder(listed.output, upInterfaces_());
    if (services.empty()) throw RoutingError::step("активных сетевых служб не найдено");

    std::optional<std::string> firstFailure;
    for (const auto& service : services) {
        // A service whose original is still owed keeps that original, whatever it shows now.
        bool owed = dnsBackup_.contains(service);
        std::string previous;
        if (!owed) {
            auto read = networksetup({"-getdnsservers", service});
            previous = RoutingParsing::dnsServers(read.output);
            // Servers we could not read could never be put back, so such a service keeps its own.
            if (!read.ok() || !restorable(previous)) {
                log_.write("routing: DNS службы " + service +
                           " не прочитаны, оставляю как есть: " + read.output);
                if (!firstFailure) firstFailure = read.output;
                continue;
            }
            auto pending = record();
            pending.dnsBackup[service] = previous;
            journal(pending);
        }
        auto set = networksetup({"-setdnsservers", service, primary, secondary});
        if (step("networksetup -setdnsservers (" + service + ")", set)) {
            if (!owed) dnsBackup_[service] = previous;
        } else {
            if (!owed) journal(record());
            if (!firstFailure) firstFailure = set.output;
        }
    }
    if (firstFailure) throw RoutingError::step(*firstFailure);
}

void Routing::teardown() {
    // What could not be undone stays in the journal, so the next service start tries again.
    RoutingJournal::Record left;

    if (!iface_.empty()) {
        for (std::string net : ipv4HalfRoutes)
            step("route delete " + net, route({"-n", "delete", "-net", net, "-interface", iface_}));
    }
    if (!serverIP_.empty()) {
        if (!step("route delete (обход для сервера)", route({"-n", "delete", "-host", serverIP_})))
            left.serverIP = serverIP_;
        serverIP_.clear();
    }
    auto scopedIface = scopedIface_;
    auto scopedGateway = scopedGateway_;
    if (!removeScopedDefault()) {
        left.scopedIface = scopedIface;
        left.scopedGateway = scopedGateway;
    }
    left.ipv6Blocked = !unblockIPv6();
    for (const auto& [service, servers] : dnsBackup_) {
        std::vector<std::string> arguments = {"-setdnsservers", service};
        if (servers.empty()) {
            arguments.push_back("Empty");
        } else {
            for (auto& server : words(servers)) arguments.push_back(server);
        }
        if (!step("networksetup вернуть DNS (" + service + ")", networksetup(arguments)))
            left.dnsBackup[service] = servers;
    }
    dnsBackup_.clear();

    if (journaled_) {
        if (!RoutingJournal::save(left))
            log_.write("routing: не удалось записать журнал изменений " + RoutingJournal::path());
        journaled_ = !left.empty();
    }
}

void Routing::clearStaleIPv6Block(Log& log, const Shell::Runner& runner) {
    std::string tool = Paths::relocate(routeTool);
    for (std::string net : ipv6HalfRoutes) {
        if (!isStub(runner(tool, {"-n", "get", "-inet6", net}, routeTimeout))) continue;
        if (runner(tool, {"-n", "delete", "-inet6", "-net", net}, routeTimeout).ok())
            log.write("routing: снята заглушка IPv6 от прошлого запуска (" + net + ")");
    }
}

void Routing::recoverFromJournal(Log& log, const Shell::Runner& runner) {
    std::optional<RoutingJournal::Record> left;
    try {
        left = RoutingJournal::load();
    } catch (const std::exception& error) {
        log.write(std::string("routing: журнал изменений прошлого запуска не читается, удаляю: ") +
                  error.what());
        RoutingJournal::remove();
        return;
    }
    if (!left) return;
    log.write("routing: найден журнал изменений прошлого запуска, возвращаю сеть в прежнее состояние");
    Routing routing(log, runner);
    routing.serverIP_ = left->serverIP;
    routing.scopedIface_ = left->scopedIface;
    routing.scopedGateway_ = left->scopedGateway;
    routing.ipv6Blocked_ = left->ipv6Blocked;
    routing.dnsBackup_ = left->dnsBackup;
    routing.teardown();
    // One attempt per start: what still fails now (a service since removed, a route already
    // gone) would fail at every start.
    RoutingJournal::remove();
}

std::optional<Routing::DefaultRoute> Routing::defaultRoute(const Shell::Runner& runner) {
    auto result = runner(Paths::relocate(routeTool), {"-n", "get", "default"}, routeTimeout);
    if (!result.ok()) return std::nullopt;
    auto fields = RoutingParsing::defaultRouteFields(result.output);
    if (fields.gateway.empty()) return std::nullopt;
    return DefaultRoute{fields.gateway, fields.iface.empty() ? std::string() : ipv4(fields.iface),
                        fields.iface};
}

bool Routing::interfaceUp(const Shell::Runner& runner, const std::string& iface) {
    auto shown = runner(Paths::relocate(ifconfigTool), {iface}, ifconfigTimeout);
    // "utun4: flags=8051<UP,POINTOPOINT,RUNNING,MULTICAST> mtu 1500"
    return shown.ok() &&
           (shown.output.find("<UP") != std::string::npos || shown.output.find(",UP") != std::string::npos);
}

std::set<std::string> Routing::upInterfaces() {
    std::set<std::string> up;
    InterfaceList list;
    for (auto* entry = list.first; entry != nullptr; entry = entry->ifa_next)
        if ((entry->ifa_flags & IFF_UP) != 0 && entry->ifa_name != nullptr) up.insert(entry->ifa_name);
    return up;
}

std::string Routing::ipv4(const std::string& iface) {
    InterfaceList list;
    for (auto* entry = list.first; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_name == nullptr || iface != entry->ifa_name) continue;
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
        char text[INET_ADDRSTRLEN] = {};
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        if (inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr) return text;
    }
    return "";
}

std::optional<std::string> Routing::resolveIPv4(const std::string& host) {
    // The text goes on to the route tool as one argument; an inner NUL would cut it short.
    if (host.find('\0') != std::string::npos) return std::nullopt;
    if (inet_addr(host.c_str()) != INADDR_NONE && fourDottedPieces(host)) return host;

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return std::nullopt;
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owner(found, &freeaddrinfo);
    for (auto* entry = found; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET || entry->ai_addr == nullptr) continue;
        char text[INET_ADDRSTRLEN] = {};
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
        if (inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr) return text;
    }
    return std::nullopt;
}

} // namespace orvex

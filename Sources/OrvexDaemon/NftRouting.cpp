#include "NftRouting.h"

#include "AtomicFile.h"
#include "Log.h"
#include "Paths.h"
#include "Routing.h"
#include "RoutingError.h"
#include "XrayConfig.h"

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <system_error>

namespace orvex {

namespace {

constexpr const char* nftTool = "/usr/sbin/nft";
constexpr const char* ipTool = "/sbin/ip";
constexpr double toolTimeout = 15;
constexpr const char* table = "orvex";

// Both rulesets start by creating and deleting the table, so that loading either replaces
// whatever table of ours is there within the same transaction. The capture's exemptions come
// first in both chains that capture: the engine's own connections, anything for this machine
// (without that, the engine's UDP replies from its transparent socket are captured again and
// reach the application from the wrong address) and the VPN server. IPv6 is refused, not
// silently dropped, so that applications fall back to IPv4 at once instead of waiting out
// their connect timeouts.
constexpr const char* captureTemplate = R"(table inet orvex
delete table inet orvex
table inet orvex {
	chain steer_out {
		type nat hook output priority -100; policy accept;
		meta mark @ENGINE@ return
		fib daddr type local return
		ip daddr @SERVER@ return
		meta nfproto ipv4 meta l4proto { tcp, udp } th dport 53 dnat ip to numgen inc mod 2 map { 0 : @DNS1@, 1 : @DNS2@ }
		meta nfproto ipv4 meta l4proto tcp redirect to :@PORT@
	}
	chain mark_udp {
		type route hook output priority mangle; policy accept;
		meta mark @ENGINE@ return
		fib daddr type local return
		ip daddr @SERVER@ return
		meta nfproto ipv4 meta l4proto udp meta mark set @MARK@
		meta nfproto ipv4 meta l4proto tcp th dport 53 meta mark set @MARK@
	}
	chain hand_udp {
		type filter hook prerouting priority mangle; policy accept;
		meta nfproto ipv4 meta l4proto { tcp, udp } meta mark @MARK@ tproxy ip to 127.0.0.1:@TPROXY@ accept
	}
	chain drop_ipv6 {
		type filter hook output priority filter; policy accept;
		meta nfproto ipv6 oif "lo" accept
		meta nfproto ipv6 meta l4proto tcp reject with tcp reset
		meta nfproto ipv6 reject with icmpx type admin-prohibited
	}
}
)";

constexpr const char* holdRules = R"(table inet orvex
delete table inet orvex
table inet orvex {
	chain hold_in {
		type filter hook input priority filter; policy drop;
		iif "lo" accept
	}
	chain hold_out {
		type filter hook output priority filter; policy drop;
		oif "lo" accept
	}
}
)";

std::string filled(std::string text, const std::vector<std::pair<std::string, std::string>>& values) {
    for (const auto& [name, value] : values)
        for (auto at = text.find(name); at != std::string::npos; at = text.find(name, at + value.size()))
            text.replace(at, name.size(), value);
    return text;
}

std::string hex(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(value));
    return text;
}

std::vector<std::string> ruleWords() {
    return {"fwmark", hex(NftRouting::captureMark), "lookup", std::to_string(NftRouting::localTable)};
}

std::vector<std::string> routeWords() {
    return {"local", "0.0.0.0/0", "dev", "lo", "table", std::to_string(NftRouting::localTable)};
}

std::vector<std::string> with(std::vector<std::string> head, const std::vector<std::string>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

Shell::Result tool(const Shell::Runner& runner, const char* path, const std::vector<std::string>& arguments) {
    return runner(Paths::relocate(path), arguments, toolTimeout);
}

} // namespace

NftRouting::NftRouting(Log& log, Shell::Runner runner) : log_(log), runner_(std::move(runner)) {}

std::string NftRouting::journalPath() { return Paths::daemonStateDir() + "/capture.nft"; }

std::string NftRouting::captureRuleset(const std::string& serverIP, std::int64_t port,
                                       std::int64_t tproxyPort,
                                       const std::pair<std::string, std::string>& dns) {
    return filled(captureTemplate, {{"@ENGINE@", hex(XrayConfig::engineMark)},
                                    {"@MARK@", hex(captureMark)},
                                    {"@SERVER@", serverIP},
                                    {"@PORT@", std::to_string(port)},
                                    {"@TPROXY@", std::to_string(tproxyPort)},
                                    {"@DNS1@", dns.first},
                                    {"@DNS2@", dns.second}});
}

std::string NftRouting::holdRuleset() { return holdRules; }

bool NftRouting::run(const char* path, const std::vector<std::string>& arguments) {
    auto result = tool(runner_, path, arguments);
    std::string line = "routing: " + std::filesystem::path(path).filename().string();
    for (const auto& word : arguments) line += " " + word;
    log_.write(line + (result.ok() ? ": ok" : ": ошибка: " + result.output));
    return result.ok();
}

bool NftRouting::writeJournal(const std::string& ruleset) {
    // The file is the journal, so it is there before anything it describes.
    Paths::ensureDir(Paths::daemonStateDir());
    journaled_ = true;
    if (!AtomicFile::write(journalPath(), ruleset, 0600)) {
        log_.write("routing: не удалось записать журнал изменений " + journalPath());
        return false;
    }
    return true;
}

void NftRouting::fail(const std::string& message) {
    teardown();
    throw RoutingError::step(message);
}

void NftRouting::configure(const Capture& capture) {
    log_.write("routing: настройка перехвата через nftables, порт движка " +
               std::to_string(capture.transparentPort));
    auto address = Routing::resolveIPv4(capture.serverHost);
    if (!address) throw RoutingError::step("не удалось определить IP сервера (" + capture.serverHost + ")");

    if (!writeJournal(captureRuleset(*address, capture.transparentPort, capture.tproxyPort,
                                     XrayConfig::dnsPair(capture.blockAds))))
        fail("не удалось записать журнал изменений сети");
    // A hold being replaced has left the rule and the route in place.
    if (!ruleAdded_ && !(ruleAdded_ = run(ipTool, with({"rule", "add"}, ruleWords()))))
        fail("не удалось добавить правило маршрутизации для UDP");
    if (!routeAdded_ && !(routeAdded_ = run(ipTool, with({"route", "add"}, routeWords()))))
        fail("не удалось добавить локальный маршрут для UDP");
    tableApplied_ = run(nftTool, {"-f", journalPath()});
    if (!tableApplied_) fail("nftables не принял правила перехвата");
    holding_ = false;
    log_.write("routing: перехват установлен");
}

void NftRouting::holdTraffic(const std::string&) {
    // A failed attempt and the kill switch after it both ask for the hold: once is enough.
    if (holding_) return;
    log_.write("routing: блокировка через nftables");
    if (!writeJournal(holdRuleset())) fail("не удалось записать журнал изменений сети");
    tableApplied_ = run(nftTool, {"-f", journalPath()});
    if (!tableApplied_) fail("nftables не принял правила блокировки");
    holding_ = true;
    log_.write("routing: блокировка установлена");
}

void NftRouting::teardown() {
    if (tableApplied_) run(nftTool, {"delete", "table", "inet", table});
    if (routeAdded_) run(ipTool, with({"route", "del"}, routeWords()));
    if (ruleAdded_) run(ipTool, with({"rule", "del"}, ruleWords()));
    if (journaled_) {
        std::error_code ignored;
        std::filesystem::remove(journalPath(), ignored);
    }
    journaled_ = ruleAdded_ = routeAdded_ = tableApplied_ = holding_ = false;
}

std::optional<NftRouting::DefaultRoute> NftRouting::defaultRoute(const Shell::Runner& runner) {
    auto result = tool(runner, ipTool, {"-4", "route", "show", "default"});
    if (!result.ok()) return std::nullopt;
    // "default via 192.168.1.1 dev eth0 proto dhcp metric 100"; the first line is the one used.
    std::istringstream line(result.output.substr(0, result.output.find('\n')));
    DefaultRoute route;
    for (std::string word, value; line >> word;) {
        if (word == "via" && line >> value) route.gateway = value;
        if (word == "dev" && line >> value) route.iface = value;
    }
    if (route.iface.empty()) return std::nullopt;
    route.localIP = Routing::ipv4(route.iface);
    return route;
}

void NftRouting::recoverFromJournal(Log& log, const Shell::Runner& runner) {
    std::error_code ignored;
    NftRouting left(log, runner);
    if (std::filesystem::exists(journalPath(), ignored)) {
        log.write("routing: найден журнал изменений прошлого запуска, снимаю перехват");
        // Every step is tried: the journal is written before the first of them is made.
        left.journaled_ = left.ruleAdded_ = left.routeAdded_ = left.tableApplied_ = true;
    } else if (tool(runner, nftTool, {"list", "table", "inet", table}).ok()) {
        log.write("routing: найдена таблица nftables прошлого запуска без журнала, удаляю");
        left.tableApplied_ = true;
    }
    left.teardown();
}

} // namespace orvex

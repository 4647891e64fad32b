#include "RoutingParsing.h"

#include "Text.h"

#include <optional>
#include <utility>

namespace orvex::RoutingParsing {

namespace {

// Splits at the first ":" that ends a non-empty name, so IPv6 values keep their colons. A
// line whose value is missing gives nothing; the pieces are trimmed only after the split.
std::optional<std::pair<std::string, std::string>> field(std::string_view line) {
    auto start = line.find_first_not_of(':');
    if (start == std::string_view::npos) return std::nullopt;
    line.remove_prefix(start);
    auto colon = line.find(':');
    if (colon == std::string_view::npos || colon + 1 == line.size()) return std::nullopt;
    return std::pair{Text::trimSpacesAndTabs(line.substr(0, colon)),
                     Text::trimSpacesAndTabs(line.substr(colon + 1))};
}

// Calls `each` for every piece between line feeds, empty ones included.
template <typename F> void forEachLine(std::string_view text, F each) {
    while (true) {
        auto end = text.find('\n');
        each(text.substr(0, end));
        if (end == std::string_view::npos) return;
        text.remove_prefix(end + 1);
    }
}

} // namespace

RouteFields defaultRouteFields(std::string_view text) {
    RouteFields fields;
    forEachLine(text, [&fields](std::string_view line) {
        if (line.empty()) return;
        auto pair = field(line);
        if (!pair) return;
        if (pair->first == "gateway") fields.gateway = pair->second;
        if (pair->first == "interface") fields.iface = pair->second;
    });
    return fields;
}

std::vector<std::string> serviceOrder(std::string_view text, const std::set<std::string>& up) {
    static constexpr std::string_view hardwareMarker = "(Hardware Port:";
    static constexpr std::string_view deviceMarker = "Device:";
    std::vector<std::string> services;
    std::string pending;
    forEachLine(text, [&](std::string_view raw) {
        std::string line = Text::trimSpacesAndTabs(raw);
        if (line.starts_with(hardwareMarker)) {
            if (auto at = line.find(deviceMarker); at != std::string::npos) {
                std::string device =
                    Text::trimSpacesAndTabs(std::string_view(line).substr(at + deviceMarker.size()));
                std::erase(device, ')');
                if (!pending.empty() && !device.empty() && up.contains(device)) services.push_back(pending);
            }
            // A name belongs to the hardware line right below it and to no later one.
            pending.clear();
        } else if (line.starts_with("(") && !line.starts_with("(*")) {
            // "(*)" marks a disabled service, which is never listed.
            if (auto close = line.find(')'); close != std::string::npos)
                pending = Text::trimSpacesAndTabs(std::string_view(line).substr(close + 1));
        }
    });
    return services;
}

std::string dnsServers(std::string_view text) {
    std::string trimmed = Text::trim(text);
    if (trimmed.empty()) return {};
    // The system's sentence for a service that takes its servers from DHCP.
    std::string lower = Text::asciiLower(trimmed);
    if (lower.find("aren't any") != std::string::npos || lower.find("there are no") != std::string::npos)
        return {};

    std::string joined;
    std::size_t start = 0;
    while (start < trimmed.size()) {
        auto end = trimmed.find_first_of("\n ", start);
        if (end == std::string::npos) end = trimmed.size();
        if (end > start) {
            if (!joined.empty()) joined += ' ';
            joined.append(trimmed, start, end - start);
        }
        start = end + 1;
    }
    return joined;
}

} // namespace orvex::RoutingParsing

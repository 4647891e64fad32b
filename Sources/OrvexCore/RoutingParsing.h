#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

// Pure readers of what macOS's route and networksetup print.
namespace orvex::RoutingParsing {

struct RouteFields {
    std::string gateway; // empty when not found
    std::string iface;   // empty when not found
};

// `route -n get default` (and its -inet6 form).
RouteFields defaultRouteFields(std::string_view text);

// `networksetup -listnetworkserviceorder`: enabled services whose device is in `up`, in order.
std::vector<std::string> serviceOrder(std::string_view text, const std::set<std::string>& up);

// `networksetup -getdnsservers <service>`: the servers joined by single blanks, or the empty
// text when the service has none of its own.
std::string dnsServers(std::string_view text);

} // namespace orvex::RoutingParsing

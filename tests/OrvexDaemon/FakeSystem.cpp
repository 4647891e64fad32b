#include "FakeSystem.h"

#include <algorithm>
#include <numeric>

using nlohmann::json;

namespace orvex::test {

FakeSystem::FakeSystem(std::string root)
    : FakeTools(std::move(root), "fake-system",
                {{"route", "/sbin/route"},
                 {"ifconfig", "/sbin/ifconfig"},
                 {"networksetup", "/usr/sbin/networksetup"}}) {
    auto iface = [](const char* name, bool up, const char* inet) {
        return json{{"name", name}, {"up", up}, {"inet", inet}, {"dest", ""}};
    };
    setInterfaces(
        json::array({iface("lo0", true, "127.0.0.1"), iface("en0", true, "192.168.1.10"),
                     iface("en1", false, ""), iface("en7", true, "10.0.0.20"), iface("utun4", true, "")}));
    setRoutes(json::array(
        {route("inet", "default", "192.168.1.1", "en0"), route("inet6", "default", "fe80::1%en0", "en0")}));
    auto service = [](const char* name, const char* device, bool enabled) {
        return json{{"name", name}, {"port", name}, {"device", device}, {"enabled", enabled}};
    };
    setServices(json::array({service("Wi-Fi", "en0", true), service("USB 10/100/1000 LAN", "en7", true),
                             service("Thunderbolt Bridge", "en1", true), service("Old VPN", "en0", false)}));
    setDNS({{"USB 10/100/1000 LAN", {"10.0.0.54", "10.0.0.53"}}});
}

json FakeSystem::load(const std::string& name, json empty) const {
    std::string text = readFile(folder() + "/" + name);
    return text.empty() ? empty : json::parse(text);
}

json FakeSystem::route(const std::string& family, const std::string& dest, const std::string& gateway,
                       const std::string& iface, bool reject) {
    return {{"family", family},   {"dest", dest}, {"host", false},   {"gateway", gateway},
            {"interface", iface}, {"scope", ""},  {"reject", reject}};
}

std::set<std::string> FakeSystem::upInterfaces() const {
    std::set<std::string> up;
    for (const auto& iface : interfaces())
        if (iface.value("up", false)) up.insert(iface.at("name").get<std::string>());
    return up;
}

std::string FakeSystem::snapshot() const {
    std::vector<std::string> sorted;
    for (const auto& route : routes()) sorted.push_back(route.dump() + "\n");
    std::ranges::sort(sorted);
    return std::accumulate(sorted.begin(), sorted.end(), std::string()) + dns().dump() + "\n";
}

void FakeSystem::failMatching(const std::string& text) {
    writeFile(folder() + "/fail-matching", readFile(folder() + "/fail-matching") + text + "\n");
}

} // namespace orvex::test

#include "FakeSystem.h"

#include "TestSupport.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <sstream>

namespace fs = std::filesystem;
using nlohmann::json;

namespace orvex::test {

FakeSystem::FakeSystem(std::string root) : root_(std::move(root)) {
    const std::pair<const char*, const char*> tools[] = {
        {"route", "/sbin/route"}, {"ifconfig", "/sbin/ifconfig"}, {"networksetup", "/usr/sbin/networksetup"}};
    for (const auto& [name, place] : tools) {
        fs::path link = root_ + place;
        fs::create_directories(link.parent_path());
        fs::remove(link);
        fs::create_symlink(fixture(name), link);
    }
    fs::create_directories(folder());
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

std::string FakeSystem::folder() const { return root_ + "/fake-system"; }

json FakeSystem::load(const std::string& name, json empty) const {
    std::string text = readFile(folder() + "/" + name);
    return text.empty() ? empty : json::parse(text);
}

void FakeSystem::save(const std::string& name, const json& value) const {
    writeFile(folder() + "/" + name, value.dump(1));
}

json FakeSystem::routes() const { return load("routes.json", json::array()); }
void FakeSystem::setRoutes(const json& routes) { save("routes.json", routes); }

json FakeSystem::route(const std::string& family, const std::string& dest, const std::string& gateway,
                       const std::string& iface, bool reject) {
    return {{"family", family},   {"dest", dest}, {"host", false},   {"gateway", gateway},
            {"interface", iface}, {"scope", ""},  {"reject", reject}};
}

json FakeSystem::interfaces() const { return load("interfaces.json", json::array()); }
void FakeSystem::setInterfaces(const json& interfaces) { save("interfaces.json", interfaces); }

std::set<std::string> FakeSystem::upInterfaces() const {
    std::set<std::string> up;
    for (const auto& iface : interfaces())
        if (iface.value("up", false)) up.insert(iface.at("name").get<std::string>());
    return up;
}

json FakeSystem::services() const { return load("services.json", json::array()); }
void FakeSystem::setServices(const json& services) { save("services.json", services); }

json FakeSystem::dns() const { return load("dns.json", json::object()); }
void FakeSystem::setDNS(const json& dns) { save("dns.json", dns); }

std::string FakeSystem::snapshot() const {
    std::vector<std::string> lines;
    for (const auto& route : routes()) lines.push_back(route.dump() + "\n");
    std::ranges::sort(lines);
    return std::accumulate(lines.begin(), lines.end(), std::string()) + dns().dump() + "\n";
}

std::vector<std::string> FakeSystem::calls() const {
    std::vector<std::string> result;
    std::istringstream text(readFile(folder() + "/calls.log"));
    for (std::string line; std::getline(text, line);) {
        if (line.empty()) continue;
        std::string joined;
        for (const auto& word : json::parse(line))
            joined += (joined.empty() ? "" : " ") + word.get<std::string>();
        result.push_back(joined);
    }
    return result;
}

void FakeSystem::failAt(size_t k) { std::ofstream(folder() + "/fail-at", std::ios::app) << k << "\n"; }

void FakeSystem::failMatching(const std::string& text) {
    std::ofstream(folder() + "/fail-matching", std::ios::app) << text << "\n";
}

void FakeSystem::clearFailures() {
    fs::remove(folder() + "/fail-at");
    fs::remove(folder() + "/fail-matching");
}

} // namespace orvex::test

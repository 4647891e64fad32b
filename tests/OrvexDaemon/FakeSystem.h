#pragma once

#include <nlohmann/json.hpp>

#include <set>
#include <string>

#include "TestSupport.h"

namespace orvex::test {

// The fake macOS network tools of tests/fixtures (route, ifconfig, networksetup) and the machine
// they pretend to be: JSON files in <root>/fake-system that tests seed and read back.
class FakeSystem : public FakeTools {
public:
    // Installs the tools and seeds a typical Mac: lo0, en0, en7 up, en1 down, utun4 up as the
    // bridge leaves it; default routes through en0; services "Wi-Fi" (en0, no DNS of its own),
    // "USB 10/100/1000 LAN" (en7, 10.0.0.54 10.0.0.53), "Thunderbolt Bridge" (en1), "Old VPN" off.
    explicit FakeSystem(std::string root);

    nlohmann::json routes() const { return load("routes.json", nlohmann::json::array()); }
    void setRoutes(const nlohmann::json& routes) { save("routes.json", routes); }
    // A route as the fake keeps it; `gateway` empty for a route to an interface.
    static nlohmann::json route(const std::string& family, const std::string& dest,
                                const std::string& gateway, const std::string& iface, bool reject = false);

    nlohmann::json interfaces() const { return load("interfaces.json", nlohmann::json::array()); }
    void setInterfaces(const nlohmann::json& interfaces) { save("interfaces.json", interfaces); }
    std::set<std::string> upInterfaces() const;

    nlohmann::json services() const { return load("services.json", nlohmann::json::array()); }
    void setServices(const nlohmann::json& services) { save("services.json", services); }

    // Service name → its servers, in the order set; a service with none is absent.
    nlohmann::json dns() const { return load("dns.json", nlohmann::json::object()); }
    void setDNS(const nlohmann::json& dns) { save("dns.json", dns); }

    // Routes in a fixed order and DNS settings: equal snapshots mean an equal network set-up.
    std::string snapshot() const;

    // Call number k (counted over all three tools, from 1) fails, or every call whose line
    // contains `text`; each without changing anything.
    void failCall(size_t k) { writeFile(folder() + "/fail-at", std::to_string(k) + "\n"); }
    void failMatching(const std::string& text);

private:
    nlohmann::json load(const std::string& name, nlohmann::json empty) const;
    void save(const std::string& name, const nlohmann::json& value) const {
        writeFile(folder() + "/" + name, value.dump(1));
    }
};

} // namespace orvex::test

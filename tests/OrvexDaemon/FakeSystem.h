#pragma once

#include <nlohmann/json.hpp>

#include <set>
#include <string>
#include <vector>

namespace orvex::test {

// The fake macOS network tools of tests/fixtures (route, ifconfig, networksetup), installed
// under an ORVEX_ROOT folder where Paths::relocate finds them, and the machine they pretend
// to be: JSON files in <root>/fake-system that tests seed and read back. Set ORVEX_ROOT to
// the same folder for the code under test.
class FakeSystem {
public:
    // Installs the tools and seeds a typical Mac: lo0, en0, en7 up, en1 down, utun4 up as the
    // bridge leaves it; default routes through en0; services "Wi-Fi" (en0, no DNS of its own),
    // "USB 10/100/1000 LAN" (en7, 10.0.0.54 10.0.0.53), "Thunderbolt Bridge" (en1), "Old VPN" off.
    explicit FakeSystem(std::string root);

    nlohmann::json routes() const;
    void setRoutes(const nlohmann::json& routes);
    // A route as the fake keeps it; `gateway` empty for a route to an interface.
    static nlohmann::json route(const std::string& family, const std::string& dest,
                                const std::string& gateway, const std::string& iface, bool reject = false);

    nlohmann::json interfaces() const;
    void setInterfaces(const nlohmann::json& interfaces);
    std::set<std::string> upInterfaces() const;

    nlohmann::json services() const;
    void setServices(const nlohmann::json& services);

    // Service name → its servers, in the order set; a service with none is absent.
    nlohmann::json dns() const;
    void setDNS(const nlohmann::json& dns);

    // Routes in a fixed order and DNS settings: equal snapshots mean an equal network set-up.
    std::string snapshot() const;

    // Every call so far: the tool's name and its arguments separated by blanks.
    std::vector<std::string> calls() const;
    size_t callCount() const { return calls().size(); }
    // Call number k (counted over all three tools since the start, from 1) fails, or every
    // call whose line contains `text`; each without changing anything.
    void failAt(size_t k);
    void failMatching(const std::string& text);
    void clearFailures();

private:
    std::string folder() const;
    nlohmann::json load(const std::string& name, nlohmann::json empty) const;
    void save(const std::string& name, const nlohmann::json& value) const;

    std::string root_;
};

} // namespace orvex::test

#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>

#include <string>
#include <vector>

#include "TestSupport.h"

namespace orvex::test {

// The fake nft and ip of tests/fixtures and the kernel state they keep in <root>/fake-linux.
class FakeNetfilter : public FakeTools {
public:
    explicit FakeNetfilter(std::string root)
        : FakeTools(std::move(root), "fake-linux", {{"nft", "/usr/sbin/nft"}, {"ip", "/sbin/ip"}}) {}

    // The body of the table `inet orvex`; empty when there is none.
    std::string table() const {
        auto text = readFile(folder() + "/nft.json");
        return text.empty() ? "" : nlohmann::json::parse(text).value("inet orvex", "");
    }
    // {"rule": [...], "route": [...]}, each entry the words that describe it.
    nlohmann::json ip() const {
        auto text = readFile(folder() + "/ip.json");
        return text.empty()
                   ? nlohmann::json{{"rule", nlohmann::json::array()}, {"route", nlohmann::json::array()}}
                   : nlohmann::json::parse(text);
    }
    void setRoutes(const std::vector<std::string>& routes) {
        auto kept = ip();
        kept["route"] = routes;
        writeFile(folder() + "/ip.json", kept.dump());
    }
    // Forgets the state, the calls and the failures.
    void reset() const {
        std::filesystem::remove_all(folder());
        std::filesystem::create_directories(folder());
    }
};

} // namespace orvex::test

#include "FakeNetfilter.h"

#include "TestSupport.h"

#include <filesystem>
#include <sstream>

namespace orvex::test {

namespace fs = std::filesystem;

FakeNetfilter::FakeNetfilter(std::string root) : root_(std::move(root)) {
    for (const auto& [name, where] : {std::pair{"nft", "/usr/sbin"}, std::pair{"ip", "/sbin"}}) {
        fs::create_directories(root_ + where);
        fs::create_symlink(fixture(name), root_ + where + "/" + name);
    }
    reset();
}

std::string FakeNetfilter::folder() const { return root_ + "/fake-linux"; }

std::string FakeNetfilter::read(const std::string& name) const {
    auto path = folder() + "/" + name;
    return fs::exists(path) ? readFile(path) : "";
}

std::string FakeNetfilter::table() const {
    auto text = read("nft.json");
    return text.empty() ? "" : nlohmann::json::parse(text).value("inet orvex", "");
}

nlohmann::json FakeNetfilter::ip() const {
    auto text = read("ip.json");
    return text.empty()
               ? nlohmann::json{{"rule", nlohmann::json::array()}, {"route", nlohmann::json::array()}}
               : nlohmann::json::parse(text);
}

void FakeNetfilter::setRoutes(const std::vector<std::string>& routes) {
    auto kept = ip();
    kept["route"] = routes;
    writeFile(folder() + "/ip.json", kept.dump());
}

std::vector<std::string> FakeNetfilter::calls() const {
    std::vector<std::string> lines;
    std::istringstream log(read("calls.log"));
    for (std::string line; std::getline(log, line);) {
        std::string joined;
        for (const auto& word : nlohmann::json::parse(line))
            joined += (joined.empty() ? "" : " ") + word.get<std::string>();
        lines.push_back(joined);
    }
    return lines;
}

void FakeNetfilter::failAt(const std::string& tool, long number) const {
    writeFile(folder() + "/" + tool + ".fail-at", std::to_string(number) + "\n");
}

void FakeNetfilter::reset() const {
    fs::remove_all(folder());
    fs::create_directories(folder());
}

} // namespace orvex::test

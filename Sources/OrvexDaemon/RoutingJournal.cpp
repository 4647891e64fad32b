#include "RoutingJournal.h"

#include "AtomicFile.h"
#include "Paths.h"

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <unistd.h>

namespace orvex::RoutingJournal {

namespace {

std::optional<std::string> readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

bool replace(const std::string& path, const nlohmann::json& document) {
    Paths::ensureDir(Paths::daemonStateDir());
    return AtomicFile::write(path, document.dump(1) + "\n", 0600);
}

} // namespace

bool Record::empty() const {
    return serverIP.empty() && scopedIface.empty() && !ipv6Blocked && dnsBackup.empty();
}

std::string path() { return Paths::daemonStateDir() + "/routing.journal"; }

bool save(const Record& record) {
    if (record.empty()) {
        remove();
        return true;
    }
    return replace(path(), {{"serverIP", record.serverIP},
                            {"scopedIface", record.scopedIface},
                            {"scopedGateway", record.scopedGateway},
                            {"ipv6Blocked", record.ipv6Blocked},
                            {"dnsBackup", record.dnsBackup}});
}

std::optional<Record> load() {
    auto text = readFile(path());
    if (!text) return std::nullopt;
    try {
        auto document = nlohmann::json::parse(*text);
        Record record;
        record.serverIP = document.at("serverIP").get<std::string>();
        record.scopedIface = document.at("scopedIface").get<std::string>();
        record.scopedGateway = document.at("scopedGateway").get<std::string>();
        record.ipv6Blocked = document.at("ipv6Blocked").get<bool>();
        record.dnsBackup = document.at("dnsBackup").get<std::map<std::string, std::string>>();
        return record;
    } catch (const nlohmann::json::exception& error) {
        throw std::runtime_error(error.what());
    }
}

void remove() { ::unlink(path().c_str()); }

std::string childrenPath() { return Paths::daemonStateDir() + "/engine.pids"; }

bool saveChildren(const std::vector<Child>& children) {
    if (children.empty()) {
        removeChildren();
        return true;
    }
    auto list = nlohmann::json::array();
    for (const auto& child : children)
        list.push_back({{"pid", child.pid}, {"started", child.started}, {"name", child.name}});
    return replace(childrenPath(), list);
}

std::vector<Child> loadChildren() {
    auto text = readFile(childrenPath());
    if (!text) return {};
    std::vector<Child> children;
    try {
        for (const auto& entry : nlohmann::json::parse(*text)) {
            Child child{entry.at("pid").get<pid_t>(), entry.at("started").get<std::string>(),
                        entry.at("name").get<std::string>()};
            if (child.pid > 0) children.push_back(std::move(child));
        }
    } catch (const nlohmann::json::exception&) {
        return {};
    }
    return children;
}

void removeChildren() { ::unlink(childrenPath().c_str()); }

} // namespace orvex::RoutingJournal

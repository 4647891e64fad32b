#include "RoutingJournal.h"

#include "FileDescriptor.h"
#include "Paths.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <unistd.h>

namespace orvex::RoutingJournal {

namespace {

bool writeAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        done += static_cast<size_t>(written);
    }
    return true;
}

bool syncFile(int fd) {
    while (fsync(fd) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

} // namespace

bool Record::empty() const {
    return serverIP.empty() && scopedIface.empty() && !ipv6Blocked && dnsBackup.empty();
}

std::string path() { return Paths::daemonLogDir() + "/routing.journal"; }

bool save(const Record& record) {
    if (record.empty()) {
        remove();
        return true;
    }
    nlohmann::json document = {{"serverIP", record.serverIP},
                               {"scopedIface", record.scopedIface},
                               {"scopedGateway", record.scopedGateway},
                               {"ipv6Blocked", record.ipv6Blocked},
                               {"dnsBackup", record.dnsBackup}};
    std::string text = document.dump(1) + "\n";

    Paths::ensureDir(Paths::daemonLogDir());
    std::string temporary = path() + ".XXXXXX";
    FileDescriptor file(mkostemp(temporary.data(), O_CLOEXEC));
    if (!file) return false;
    if (!writeAll(file.get(), text) || !syncFile(file.get())) {
        ::unlink(temporary.c_str());
        return false;
    }
    file.reset();
    if (std::rename(temporary.c_str(), path().c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    // The rename itself must reach the disk too: DNS settings outlive a power cut.
    FileDescriptor folder(::open(Paths::daemonLogDir().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder) syncFile(folder.get());
    return true;
}

std::optional<Record> load() {
    std::ifstream file(path(), std::ios::binary);
    if (!file) return std::nullopt;
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    try {
        auto document = nlohmann::json::parse(text);
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

} // namespace orvex::RoutingJournal

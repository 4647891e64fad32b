#include "MemoryKeychain.h"

namespace orvex {

std::optional<std::string> MemoryKeychain::read(const std::string& service, const std::string& account) {
    auto found = items_.find({service, account});
    if (found == items_.end()) return std::nullopt;
    return found->second.data;
}

void MemoryKeychain::remove(const std::string& service, const std::string& account) {
    items_.erase({service, account});
}

bool MemoryKeychain::add(const std::string& service, const std::string& account, const std::string& data,
                         Access access) {
    if (access == Access::anyApplication && refuseAnyApplication_) return false;
    if (!items_.emplace(std::make_pair(service, account), Item{data, access}).second) return false;
    ++additions_;
    return true;
}

std::optional<Keychain::Access> MemoryKeychain::access(const std::string& service,
                                                       const std::string& account) const {
    auto found = items_.find({service, account});
    if (found == items_.end()) return std::nullopt;
    return found->second.access;
}

} // namespace orvex

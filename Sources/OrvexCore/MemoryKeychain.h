#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>

#include "Keychain.h"

namespace orvex {

// A keychain that lives in memory only, for tests and for runs that must not touch the
// user's keychain. It can be told to refuse the any-application access rule, as a macOS
// keychain does when it cannot build the access object.
class MemoryKeychain : public Keychain {
public:
    std::optional<std::string> read(const std::string& service, const std::string& account) override;
    void remove(const std::string& service, const std::string& account) override;
    bool add(const std::string& service, const std::string& account, const std::string& data,
             Access access) override;

    void refuseAnyApplicationAccess(bool refuse) { refuseAnyApplication_ = refuse; }
    // The access rule the item was added with; nothing when there is no item.
    std::optional<Access> access(const std::string& service, const std::string& account) const;
    // How many items have been added successfully since construction.
    int additions() const { return additions_; }

private:
    struct Item {
        std::string data;
        Access access;
    };
    std::map<std::pair<std::string, std::string>, Item> items_;
    bool refuseAnyApplication_ = false;
    int additions_ = 0;
};

} // namespace orvex

#pragma once

#include <optional>
#include <string>

namespace orvex {

// A store of generic-password items, each found by its service and account names. The
// production store is the user's login keychain of the platform; tests hand TokenStore an
// in-memory one instead.
class Keychain {
public:
    // Who may read an item back. On macOS the first asks for an access list that lets any
    // application decrypt the item without a prompt (so a re-signed update of ORVEX still
    // reads the token); the second is the plain this-device-only accessibility class.
    enum class Access { anyApplication, thisDeviceOnly };

    virtual ~Keychain() = default;

    // The item's bytes, or nothing when there is none or it cannot be read.
    virtual std::optional<std::string> read(const std::string& service, const std::string& account) = 0;
    // Deletes the item if there is one; failures are not reported, as no caller can act on them.
    virtual void remove(const std::string& service, const std::string& account) = 0;
    // Adds the item; false when the store refuses it. Callers remove the old item first.
    virtual bool add(const std::string& service, const std::string& account, const std::string& data,
                     Access access) = 0;

    // The current user's keychain on this platform.
    static Keychain& system();
};

} // namespace orvex

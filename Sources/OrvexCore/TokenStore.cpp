#include "TokenStore.h"

#include "Text.h"

namespace orvex::TokenStore {
namespace {

const std::string service = "ORVEX VPN";
const std::string account = "app-token";

bool relaxed = false;

} // namespace

std::optional<std::string> load(Keychain& keychain) {
    auto bytes = keychain.read(service, account);
    if (!bytes || bytes->empty() || !Text::isValidUTF8(*bytes)) return std::nullopt;
    return bytes;
}

bool save(const std::string& token, Keychain& keychain) {
    keychain.remove(service, account);
    if (token.empty()) return true;
    if (keychain.add(service, account, token, Keychain::Access::anyApplication)) return true;
    // A half-written item may be left behind by the refused attempt.
    keychain.remove(service, account);
    return keychain.add(service, account, token, Keychain::Access::thisDeviceOnly);
}

void clear(Keychain& keychain) { keychain.remove(service, account); }

bool isLinked(Keychain& keychain) { return load(keychain).has_value(); }

void relaxAccessOnce(Keychain& keychain) {
    if (relaxed) return;
    relaxed = true;
    if (auto token = load(keychain)) save(*token, keychain);
}

} // namespace orvex::TokenStore

#pragma once

#include <optional>
#include <string>

#include "Keychain.h"

// The account token the server issues when the device is signed in, kept as one keychain
// item so that it survives restarts. Nothing here throws or logs: the token is a credential,
// and the calling flows decide what the user sees.
namespace orvex::TokenStore {

// The stored token; nothing when there is none, it cannot be read, or it is empty or not UTF-8.
std::optional<std::string> load(Keychain& keychain = Keychain::system());

// Replaces the stored token. Saving the empty text only deletes it. A failed save leaves no
// token at all, never the previous one.
bool save(const std::string& token, Keychain& keychain = Keychain::system());

void clear(Keychain& keychain = Keychain::system());

bool isLinked(Keychain& keychain = Keychain::system());

// Re-saves an existing token once per process so that an item written by an older version
// gets the current access rule.
void relaxAccessOnce(Keychain& keychain = Keychain::system());

} // namespace orvex::TokenStore

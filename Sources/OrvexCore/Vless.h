#pragma once

#include "VlessError.h"
#include "VlessLink.h"

#include <map>
#include <string>
#include <string_view>

// Reading `vless://` links and the base64 subscription texts that carry them. Pure text
// processing, shared by the service (links in connect requests) and the application
// (subscriptions from the account server).
namespace orvex::Vless {

// Throws VlessError; a returned link always has a user id, an address and a port in 1…65535.
VlessLink parse(std::string_view text);

// The first line with content of a base64 subscription, trimmed. Throws VlessError. The line
// is not checked to be a link: parse does that when it is used.
std::string decodeSubscription(std::string_view text);

// `a=1&b=2`: keys as written, values with "+" as blank and percent escapes decoded (or left
// as they are when they do not decode). A later key replaces an earlier one.
std::map<std::string, std::string> parseQuery(std::string_view query);

} // namespace orvex::Vless

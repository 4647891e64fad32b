// Links arrive from the account server and over the service socket: whatever they hold must
// give a well-formed link or a VlessError, and the configuration written from a link must be
// JSON that carries the link's values unchanged.
#include "LocalSocks.h"
#include "Text.h"
#include "Vless.h"
#include "XrayConfig.h"

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    orvex::VlessLink link;
    try {
        link = orvex::Vless::parse(text);
    } catch (const orvex::VlessError&) {
        return 0;
    }
    if (link.uuid.empty() || link.address.empty() || link.port < 1 || link.port > 65535) std::abort();

    orvex::LocalSocks socks{1080, "0123456789abcdef", "00112233445566778899aabbccddeeff"};
    auto config = orvex::XrayConfig::build(link, true, "10.0.0.2", "", socks, false, false);
    if (config == "{}") {
        // Only a link with text that is not UTF-8 cannot be written.
        if (orvex::Text::isValidUTF8(link.uuid + link.address + link.encryption + link.flow + link.type +
                                     link.security + link.sni + link.fingerprint + link.publicKey +
                                     link.shortID + link.spiderX))
            std::abort();
        return 0;
    }
    auto tree = nlohmann::json::parse(config);
    const auto& server = tree["outbounds"][0]["settings"]["vnext"][0];
    if (server["address"] != link.address || server["port"] != link.port ||
        server["users"][0]["id"] != link.uuid)
        std::abort();
    return 0;
}

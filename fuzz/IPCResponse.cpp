// The application reads one response line from whatever listens on the service socket;
// whatever the bytes, decoding must either succeed or throw IPCDecodeError, and what it
// accepts must survive a round trip.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "IPCProtocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view line(reinterpret_cast<const char*>(data), size);
    orvex::IPCResponse response;
    try {
        response = orvex::IPCResponse::decode(line);
    } catch (const orvex::IPCDecodeError&) {
        return 0;
    }
    std::string encoded = response.encode();
    if (encoded.find('\n') != std::string::npos) std::abort();
    if (!(orvex::IPCResponse::decode(encoded) == response)) std::abort();
    return 0;
}

// Decodes arbitrary bytes as the account server's most-read answers. Whatever decodes must
// encode and decode again to the same record.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "APITypes.h"

namespace {

template <typename R> void roundTrip(std::string_view bytes) {
    R record;
    try {
        record = R::decode(bytes);
    } catch (const orvex::CodingError&) {
        return;
    }
    std::string encoded = record.encode();
    if (R::decode(encoded).encode() != encoded) abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    roundTrip<orvex::SubscriptionResponse>(bytes);
    roundTrip<orvex::ServersResponse>(bytes);
    roundTrip<orvex::NotificationsResponse>(bytes);
    return 0;
}

#include "Tunnel.h"

#include "Routing.h"
#include "TunnelError.h"

#include <gtest/gtest.h>

namespace orvex {
namespace {

std::set<std::string> utuns(int from, int to) {
    std::set<std::string> names;
    for (int n = from; n <= to; ++n) names.insert("utun" + std::to_string(n));
    return names;
}

TEST(Tunnel, AllocTunNamePicksTheFirstFreeNumberFromFour) {
    EXPECT_EQ(Tunnel::allocTunName(utuns(0, 3)), "utun4");
    EXPECT_EQ(Tunnel::allocTunName(utuns(4, 9)), "utun10");
    auto gap = utuns(0, 31);
    gap.erase("utun31");
    EXPECT_EQ(Tunnel::allocTunName(gap), "utun31");
    try {
        Tunnel::allocTunName(utuns(4, 31));
        ADD_FAILURE() << "every number was taken";
    } catch (const TunnelError& error) {
        EXPECT_EQ(error.which(), TunnelError::Case::step);
        EXPECT_STREQ(error.what(), "нет свободного utun-устройства: все номера заняты другими VPN");
    }
    EXPECT_FALSE(Routing::upInterfaces().contains(Tunnel::allocTunName()));
}

} // namespace
} // namespace orvex

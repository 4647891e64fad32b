#include "Tunnel.h"

#include "Routing.h"
#include "TunnelError.h"

namespace orvex {

std::string Tunnel::allocTunName() { return allocTunName(Routing::upInterfaces()); }

std::string Tunnel::allocTunName(const std::set<std::string>& up) {
    for (int number = 4; number <= 31; ++number) {
        std::string candidate = "utun" + std::to_string(number);
        if (!up.contains(candidate)) return candidate;
    }
    throw TunnelError::step("нет свободного utun-устройства: все номера заняты другими VPN");
}

} // namespace orvex

#pragma once

#include <set>
#include <string>

namespace orvex {

class Tunnel {
public:
    // The first of utun4…utun31 that is not up now. Numbers below 4 belong to the system.
    // The bridge creates the interface later, so another program may still take the name in
    // between. Throws TunnelError when every number is taken.
    static std::string allocTunName();
    static std::string allocTunName(const std::set<std::string>& up);
};

} // namespace orvex

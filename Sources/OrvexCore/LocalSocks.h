#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvex {

// The engine's local SOCKS5 inbound on 127.0.0.1, which the TUN bridge connects to. The
// random user and password keep other local programs from using the tunnel as a proxy.
struct LocalSocks {
    std::int64_t port = 0;
    std::string user; // 16 lowercase hex digits
    std::string pass; // 32 lowercase hex digits

    // "127.0.0.1:<port>"
    std::string addr() const;
    // "socks5://<user>:<pass>@127.0.0.1:<port>", the address handed to the bridge.
    std::string proxyURL() const;

    // A port the system reports free right now, with fresh credentials. Throws EngineError
    // (noFreePort). The port is only free at this moment: the engine binds it later.
    static LocalSocks allocate();

    // 2 × `bytes` lowercase hex digits from the system's secure random source.
    static std::string randomHex(std::size_t bytes);
};

} // namespace orvex

#include "LocalSocks.h"

#include "EngineError.h"
#include "FileDescriptor.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace orvex {

std::string LocalSocks::addr() const { return "127.0.0.1:" + std::to_string(port); }

std::string LocalSocks::proxyURL() const {
    return "socks5://" + user + ":" + pass + "@127.0.0.1:" + std::to_string(port);
}

LocalSocks LocalSocks::allocate() {
    FileDescriptor probe(::socket(AF_INET, SOCK_STREAM, 0));
    if (!probe) throw EngineError::noFreePort();
    ::fcntl(probe.get(), F_SETFD, FD_CLOEXEC);

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        throw EngineError::noFreePort();
    socklen_t length = sizeof address;
    if (::getsockname(probe.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        address.sin_port == 0)
        throw EngineError::noFreePort();

    LocalSocks socks;
    socks.port = ntohs(address.sin_port);
    socks.user = randomHex(8);
    socks.pass = randomHex(16);
    return socks;
}

std::string LocalSocks::randomHex(std::size_t bytes) {
    std::vector<unsigned char> random(bytes);
    // getentropy gives at most 256 bytes per call.
    bool secure = true;
    for (std::size_t done = 0; done < bytes && secure; done += 256)
        secure = ::getentropy(random.data() + done, std::min<std::size_t>(256, bytes - done)) == 0;
    if (!secure)
        for (auto& byte : random) byte = static_cast<unsigned char>(::arc4random_uniform(256));

    std::string hex;
    hex.reserve(bytes * 2);
    char digits[3];
    for (auto byte : random) {
        std::snprintf(digits, sizeof digits, "%02x", byte);
        hex += digits;
    }
    return hex;
}

} // namespace orvex

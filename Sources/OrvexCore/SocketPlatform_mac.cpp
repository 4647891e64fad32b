#include "SocketPlatform.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/un.h>
#include <unistd.h>

namespace orvex::SocketPlatform {

namespace {

// macOS has neither SOCK_CLOEXEC nor MSG_NOSIGNAL: both properties are set on the socket
// right after it exists. The descriptor is closed again when that fails.
int prepare(int fd) {
    if (fd < 0) return -1;
    int on = 1;
    if (::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0 ||
        ::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on) != 0) {
        int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

} // namespace

int openStream() { return prepare(::socket(AF_UNIX, SOCK_STREAM, 0)); }

int acceptStream(int listening) { return prepare(::accept(listening, nullptr, nullptr)); }

int sendFlags() { return 0; }

socklen_t finishAddress(sockaddr_un& address) {
    address.sun_len = sizeof(sockaddr_un);
    return sizeof(sockaddr_un);
}

} // namespace orvex::SocketPlatform

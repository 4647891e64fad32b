#include "SocketPlatform.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/un.h>
#include <unistd.h>

namespace orvex::SocketPlatform {

namespace {

// A new socket that cannot be prepared is closed again.
int prepared(int fd) {
    if (fd < 0) return -1;
    if (prepare(fd) != 0) {
        int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

} // namespace

// macOS has neither SOCK_CLOEXEC nor MSG_NOSIGNAL: both properties are set on the socket
// right after it exists.
int prepare(int fd) {
    int on = 1;
    if (::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) return -1;
    return ::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
}

int openStream() { return prepared(::socket(AF_UNIX, SOCK_STREAM, 0)); }

int acceptStream(int listening) { return ::accept(listening, nullptr, nullptr); }

int openPair(int ends[2]) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) return -1;
    if (prepare(ends[0]) == 0 && prepare(ends[1]) == 0) return 0;
    int saved = errno;
    ::close(ends[0]);
    ::close(ends[1]);
    errno = saved;
    return -1;
}

int sendFlags() { return 0; }

socklen_t finishAddress(sockaddr_un& address) {
    address.sun_len = sizeof(sockaddr_un);
    return sizeof(sockaddr_un);
}

} // namespace orvex::SocketPlatform

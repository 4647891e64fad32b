#include "SocketPlatform.h"

#include <sys/un.h>

namespace orvex::SocketPlatform {

int openStream() { return ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0); }

int acceptStream(int listening) { return ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC); }

int prepare(int) { return 0; }

int openPair(int ends[2]) { return ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends); }

int sendFlags() { return MSG_NOSIGNAL; }

socklen_t finishAddress(sockaddr_un&) { return sizeof(sockaddr_un); }

} // namespace orvex::SocketPlatform

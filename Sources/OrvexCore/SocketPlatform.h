#pragma once

#include <sys/socket.h>

struct sockaddr_un;

// What differs between platforms in opening and using Unix-domain stream sockets. Every
// socket returned is close-on-exec, so engine processes inherit none of them, and never
// raises SIGPIPE, so a peer that has gone fails the write instead of ending the process.
namespace orvex::SocketPlatform {

// A new Unix-domain stream socket, or -1 with errno set.
int openStream();

// One connection from a listening socket, or -1 with errno set. Not retried here. On Linux
// it is ready for use; elsewhere prepare() must follow.
int acceptStream(int listening);

// Gives a socket, an accepted one above all, the properties above; 0, or -1 with errno set,
// in which case the caller closes it. On macOS this fails with EINVAL when the peer has already closed both
// directions: a failure of that one connection, not of the listening socket.
int prepare(int fd);

// A connected pair of Unix-domain stream sockets, or -1 with errno set.
int openPair(int ends[2]);

// Flags for every send() on these sockets.
int sendFlags();

// Completes an address whose family and zero-terminated path are filled in, and returns the
// length to hand to bind and connect.
socklen_t finishAddress(sockaddr_un& address);

} // namespace orvex::SocketPlatform

#pragma once

#include <sys/socket.h>

struct sockaddr_un;

// What differs between platforms in opening and using Unix-domain stream sockets. Every
// socket returned is close-on-exec, so engine processes inherit none of them, and never
// raises SIGPIPE, so a peer that has gone fails the write instead of ending the process.
namespace orvex::SocketPlatform {

// A new Unix-domain stream socket, or -1 with errno set.
int openStream();

// One connection from a listening socket, or -1 with errno set. Not retried here.
int acceptStream(int listening);

// Flags for every send() on these sockets.
int sendFlags();

// Completes an address whose family and zero-terminated path are filled in, and returns the
// length to hand to bind and connect.
socklen_t finishAddress(sockaddr_un& address);

} // namespace orvex::SocketPlatform

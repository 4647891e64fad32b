#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "Error.h"
#include "FileDescriptor.h"

// Blocking helpers over Unix-domain stream sockets, carrying one line per message: the
// client connects, writes its request line, reads one response line and closes; the server
// accepts, reads a line, writes one back and closes.
namespace orvex::UnixSocket {

// The address field holds 104 bytes on macOS, the zero included.
constexpr std::size_t maxPathBytes = 103;
constexpr int backlog = 16;
constexpr std::size_t readChunk = 8192;
// The longest message either side collects.
constexpr std::size_t messageLimit = 4 * 1024 * 1024;

class SocketError : public Error {
public:
    enum class Kind { create, connect, bind, listen, tooLongPath };
    explicit SocketError(Kind kind, int errorNumber = 0);

    Kind kind;
    int errorNumber; // errno of the failed call; 0 for tooLongPath
};

// Replaces whatever is at `path` with a listening socket that every local user may reach
// (mode 0666: the application runs as the user, the service as root).
FileDescriptor listen(const std::string& path);

// What the error of a failed accept says about the loop that called it.
enum class AcceptFailure {
    connection, // only that connection failed (its client gave up, a signal came): go on at once
    resources,  // out of descriptors or memory for now: go on after a pause
    listening,  // the listening socket itself is unusable: stop accepting
};
AcceptFailure classifyAccept(int errorNumber);

// The next connection, or an empty descriptor with errno set when accepting fails for more
// than one connection's reason. Connections that fail on their own are skipped.
FileDescriptor accept(int listening);

// Everything up to the first line feed; the line feed and anything after it in the same
// read are dropped. Stops at end of stream, on any error (a receive time limit among them)
// or once `limit` bytes are held, which may be overshot by less than one chunk. Never fails.
std::string readUntilNewline(int fd, std::size_t limit = messageLimit);
// The same, but also stops when `deadline` passes, however the bytes trickle in.
std::string readUntilNewline(int fd, std::size_t limit, std::chrono::steady_clock::time_point deadline);

// Writes every byte or throws SocketError (Kind::connect) with the failing call's errno.
void writeAll(int fd, std::string_view data);

// A connected client socket (close-on-exec, no SIGPIPE) with no time limits set; throws
// SocketError. Tests and tools that speak raw bytes use it too.
FileDescriptor connect(const std::string& path);

// One whole client exchange: `payload` and a line feed out, one line back. Every send and
// every receive is limited to `timeout` in whole seconds. A reply cut short by the limit or
// by the service closing is returned as it is, possibly empty; the caller judges it.
std::string request(const std::string& path, std::string_view payload, double timeout);

} // namespace orvex::UnixSocket

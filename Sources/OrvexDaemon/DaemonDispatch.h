#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "FileDescriptor.h"
#include "IPCProtocol.h"
#include "SocketPlatform.h"

// The service's request handling, apart from the process set-up of Daemon::run(), so that it
// can be driven in-process by tests and the fuzzer.
namespace orvex {

class Log;
class Tunnel;

namespace Daemon {

// How long an accepted connection may take, counted from its accept, to deliver its whole
// request line before it is closed without an answer. The socket is open to every local
// user, and a client that never sends, or sends a byte now and then, would otherwise hold its
// worker for ever.
constexpr std::chrono::seconds requestDeadline{10};

// At most this many connections are served at once, fewer when the descriptor limit is low;
// the accept loop waits for a free slot.
constexpr std::size_t maxConnections = 1024;

// The cap for a process that may hold `descriptors` open: half of them at most, so that the
// service's own work always has descriptors to spare.
std::size_t connectionCap(std::size_t descriptors);

// Where the accept loop takes its connections from; tests put failures in.
struct Intake {
    // One connection from the listening socket, or -1 with errno set.
    std::function<int(int listening)> accept = SocketPlatform::acceptStream;
    // Readies an accepted socket: 0, or -1 with errno set when that connection is unusable.
    std::function<int(int fd)> prepare = SocketPlatform::prepare;
};

// Carries out one decoded request on the tunnel.
IPCResponse dispatch(const IPCRequest& request, Tunnel& tunnel, Log& log);

// The answer to one request line, with its log lines; nothing for an empty line (the client
// closed without writing), which gets no answer.
std::optional<IPCResponse> answer(std::string_view line, Tunnel& tunnel, Log& log);

// Writes the response and a line feed; a client that has gone loses it silently.
void respond(int fd, const IPCResponse& response);

// Serves one accepted connection whose request line must have arrived by `deadline`, and
// closes it.
void handle(FileDescriptor connection, Tunnel& tunnel, Log& log,
            std::chrono::steady_clock::time_point deadline);

// The accept loop: each connection is served by a worker of a pool that grows up to `cap`.
// A connection that fails on its own is closed and the loop goes on; running out of
// descriptors or memory pauses accepting for a moment (logged once). Returns when the
// listening socket itself fails (it was shut down or broke), once every connection in flight
// has been served.
void serve(int listening, const std::shared_ptr<Tunnel>& tunnel, Log& log, std::size_t cap = maxConnections,
           const Intake& intake = {});

} // namespace Daemon
} // namespace orvex

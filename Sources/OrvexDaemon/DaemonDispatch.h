#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string_view>

#include "FileDescriptor.h"
#include "IPCProtocol.h"

// The service's request handling, apart from the process set-up of Daemon::run(), so that it
// can be driven in-process by tests and the fuzzer.
namespace orvex {

class Log;
class Tunnel;

namespace Daemon {

// How long an accepted connection may take to deliver its request line before it is closed
// without an answer. The socket is open to every local user, and a client that never sends
// would otherwise hold its thread for ever.
constexpr std::chrono::seconds receiveLimit{10};

// At most this many connections are served at once; the accept loop waits for a free slot.
constexpr int maxConnections = 1024;

// Carries out one decoded request on the tunnel.
IPCResponse dispatch(const IPCRequest& request, Tunnel& tunnel, Log& log);

// The answer to one request line, with its log lines; nothing for an empty line (the client
// closed without writing), which gets no answer.
std::optional<IPCResponse> answer(std::string_view line, Tunnel& tunnel, Log& log);

// Writes the response and a line feed; a client that has gone loses it silently.
void respond(int fd, const IPCResponse& response);

// Serves one accepted connection and closes it.
void handle(FileDescriptor connection, Tunnel& tunnel, Log& log);

// The accept loop: each connection on its own thread. Returns when accepting fails (the
// listening socket was shut down or broke), once every connection in flight has been served.
void serve(int listening, const std::shared_ptr<Tunnel>& tunnel, Log& log);

} // namespace Daemon
} // namespace orvex

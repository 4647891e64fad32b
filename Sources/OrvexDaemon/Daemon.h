#pragma once

// The privileged service's main program, run by the "-service" role: one log, one tunnel and
// the listening socket for the life of the process. Each connection carries one request line
// and gets one response line.
namespace orvex::Daemon {

// Serves until the listening socket fails (status 0) or cannot be set up (status 1). SIGTERM
// and SIGINT end the process themselves with status 0 after disconnecting the tunnel. Must be
// called on the main thread before any other thread exists: the stop signals are blocked here
// so that every thread started later inherits the mask.
int run();

} // namespace orvex::Daemon

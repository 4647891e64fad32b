#pragma once

#include <functional>
#include <string>

class QDBusMessage;
class QObject;

// Calls on the desktop session's D-Bus, shared by the Linux notification centre and workspace.
namespace orvex::SessionBus {

// Sends `call` without waiting for the answer. `failed` gets the bus's description when
// there is no session bus (at once, on the caller's thread) or the call comes back as an
// error (later, on `context`'s thread). The answer is dropped when `context` ends first.
// Call it on `context`'s thread.
void send(const QDBusMessage& call, QObject& context, std::function<void(const std::string&)> failed);

} // namespace orvex::SessionBus

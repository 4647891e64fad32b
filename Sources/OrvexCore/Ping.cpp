#include "Ping.h"

#include "PingStat.h"
#include "Platform.h"
#include "Shell.h"

namespace orvex::Ping {

int measure(const std::string& host, int timeoutMs) {
    if (!PingStat::isProbeHost(host)) return -1;
    // The host comes from the account server. The tool would read a leading "-" as one of its
    // options (a count or interval of the server's choosing), and no name or address begins so.
    if (host.starts_with('-')) return -1;
    // The BSD tool takes the per-reply wait in milliseconds; iputils takes whole seconds.
    Platform platform = Platform::current();
    int wait = platform.ping == Platform::PingTool::bsd ? timeoutMs : (timeoutMs + 999) / 1000;
    // Every request may wait its full timeout; the extra seconds cover start-up and the
    // tool's own pauses between requests.
    double limit = timeoutMs * PingStat::attempts / 1000 + 3;
    auto result =
        Shell::run(platform.pingProgram,
                   {"-n", "-c", std::to_string(PingStat::attempts), "-W", std::to_string(wait), host}, limit);
    // A non-zero status still carries the replies that did arrive (some requests lost).
    return PingStat::best(PingStat::parse(result.output));
}

} // namespace orvex::Ping

#include "Ping.h"

#include "Paths.h"
#include "PingStat.h"
#include "Shell.h"

namespace orvex::Ping {

int measure(const std::string& host, int timeoutMs) {
    if (!PingStat::isProbeHost(host)) return -1;
    // The host comes from the account server. The tool would read a leading "-" as one of its
    // options (a count or interval of the server's choosing), and no name or address begins so.
    if (host.starts_with('-')) return -1;
    // Every request may wait its full timeout; the extra seconds cover start-up and the
    // tool's own pauses between requests.
    double limit = timeoutMs * PingStat::attempts / 1000 + 3;
    auto result = Shell::run(
        Paths::relocate("/sbin/ping"),
        {"-n", "-c", std::to_string(PingStat::attempts), "-W", std::to_string(timeoutMs), host}, limit);
    // A non-zero status still carries the replies that did arrive (some requests lost).
    return PingStat::best(PingStat::parse(result.output));
}

} // namespace orvex::Ping

#pragma once

#include <string>

// The echo time of a server, measured with the system's ping tool.
namespace orvex::Ping {

// The best of PingStat::attempts replies in whole milliseconds, or -1 when the host is not
// worth probing or nothing answered. `timeoutMs` bounds each reply. Blocks for up to
// 3 × timeoutMs + 3 s; never fails.
int measure(const std::string& host, int timeoutMs);

} // namespace orvex::Ping

#pragma once

#include <cstddef>

// How many descriptors the service may hold open. The socket is open to every local user, so
// the number of connections is capped well below the limit: running out of descriptors must
// never fail an accept, the health monitor's probes or the start of an engine.
namespace orvex::DescriptorLimit {

// Raises the soft limit to the hard one, as far as the system allows, and returns the soft
// limit now in force.
std::size_t raise();

} // namespace orvex::DescriptorLimit

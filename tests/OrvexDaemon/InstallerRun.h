#pragma once

#include <string>

namespace orvex::test {

// Kills whatever the fake systemctl under `root` started and still counts as running, so that
// no installed service outlives its test.
void stopFakeUnits(const std::string& root);

} // namespace orvex::test

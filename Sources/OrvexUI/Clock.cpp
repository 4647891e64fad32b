#include "Clock.h"

#include <thread>

namespace orvex {

namespace {

class SteadyClock final : public Clock {
public:
    TimePoint now() override { return std::chrono::steady_clock::now(); }
    void sleep(Duration duration) override { std::this_thread::sleep_for(duration); }
};

} // namespace

std::shared_ptr<Clock> Clock::system() { return std::make_shared<SteadyClock>(); }

} // namespace orvex

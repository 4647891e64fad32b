#include "Notices.h"

#include <gtest/gtest.h>

using namespace orvex;
using namespace orvex::Notices;

TEST(Notices, ExpiryRemindsOncePerThresholdAndStartsOverForANewEnd) {
    struct Step {
        std::int64_t daysLeft;
        std::string expiresAt;
        std::optional<int> fired;
        ExpiryState after;
    };
    const std::vector<Step> steps = {
        {5, "A", std::nullopt, {"A", std::nullopt}},
        {3, "A", 3, {"A", 3}},
        {2, "A", std::nullopt, {"A", 3}},
        {1, "A", 1, {"A", 1}},
        {0, "A", 0, {"A", 0}},
        {0, "A", std::nullopt, {"A", 0}},
        // Nothing to decide: the state is kept as it is, not reset for the new end.
        {-1, "B", std::nullopt, {"A", 0}},
        {3, "", std::nullopt, {"A", 0}},
        {3, "B", 3, {"B", 3}},
        // A reminder missed while away is not caught up.
        {1, "C", 1, {"C", 1}},
    };
    ExpiryState state;
    for (const auto& step : steps) {
        auto decision = expiry(step.daysLeft, step.expiresAt, state);
        SCOPED_TRACE(std::to_string(step.daysLeft) + " " + step.expiresAt);
        EXPECT_EQ(decision.fire, step.fired.has_value());
        EXPECT_EQ(decision.threshold, step.fired.value_or(0));
        EXPECT_EQ(decision.next, step.after);
        state = decision.next;
    }
}

// The last three, an empty queue and the tunnel transitions are tried through the notifier.
TEST(Notices, QueueTakesTheLastIdSentAndOnlyNewVersionsAreAnnounced) {
    auto two = pickQueue({9, 8}, QueueState{7});
    EXPECT_EQ(two.from, 0u);
    EXPECT_EQ(two.next.since(), 8); // the last one sent, whatever its value

    EXPECT_FALSE(shouldAnnounceUpdate("", std::nullopt));
    EXPECT_TRUE(shouldAnnounceUpdate("1.2", std::nullopt));
    EXPECT_FALSE(shouldAnnounceUpdate("1.2", "1.2"));
    EXPECT_TRUE(shouldAnnounceUpdate("1.2", "1.2.0"));
    EXPECT_FALSE(tunnelText(TunnelEvent::none));
}

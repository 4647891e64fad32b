#include "APIClient.h"

#include <gtest/gtest.h>

#include "APIServerFixture.h"
#include "Http.h"

using namespace orvex;
using namespace orvex::test;

// All three bases silent: the request gives up after the three time limits in turn and reports
// the last base's time-out, not a generic failure.
TEST(APIClientSlow, ThreeSilentBasesTakeTheirFullTimeOutsInTurn) {
    APIServerFixture fixture;
    auto stalled = fixture.start();
    stalled->setOverride("/api/config", Override{.body = "{}", .delay = std::chrono::minutes(2)});
    APIClient client({stalled->baseURL(), stalled->baseURL(), stalled->baseURL()});
    auto started = std::chrono::steady_clock::now();
    try {
        client.config(stalled->token());
        ADD_FAILURE() << "a silent server answered";
    } catch (const Http::TransportError& error) {
        EXPECT_EQ(error.code, Http::TransportError::Code::timedOut);
        EXPECT_STREQ(error.what(), "The request timed out.");
    }
    auto elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_GE(elapsed, 36.5);
    EXPECT_LT(elapsed, 50.0);
    EXPECT_EQ(stalled->requestCount(), 3u);
}

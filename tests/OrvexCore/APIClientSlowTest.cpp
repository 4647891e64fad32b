#include "APIClient.h"

#include <gtest/gtest.h>

#include "APIServerFixture.h"
#include "Http.h"
#include "HttpRawListener.h"

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

// The first base's limit is on silence: an answer that keeps arriving for longer than it, as a
// large attachment does on a slow line, is not given up and sent again elsewhere.
TEST(APIClientSlow, AnAnswerSlowerThanTheLimitButNeverSilentArrives) {
    std::string body = R"({"devices":[]})";
    HttpRawListener trickling("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                                  "\r\nConnection: close\r\n\r\n" + body,
                              std::chrono::milliseconds(600));
    std::string refused = "http://127.0.0.1:" + std::to_string(APIServerFixture::closedPort()) + "/";
    APIClient client({trickling.baseURL(), refused, refused});
    auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(client.devices("token").devices.empty());
    EXPECT_GT(std::chrono::steady_clock::now() - started, std::chrono::seconds(7));
    EXPECT_EQ(trickling.requests().size(), 1u);
}

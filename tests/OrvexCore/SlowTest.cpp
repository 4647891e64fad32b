// Time limits that take their full length to prove.
#include "APIClient.h"
#include "HttpRawListener.h"
#include "TestSupport.h"
#include "UpdateChecker.h"
#include "UpdateMirrors.h"

#include <chrono>
#include <gtest/gtest.h>

using namespace orvex;
using namespace orvex::test;

// The first base's limit is on silence: an answer that keeps arriving for longer than it, as a
// large attachment does on a slow line, is not given up and sent again elsewhere.
TEST(APIClientSlow, AnAnswerSlowerThanTheLimitButNeverSilentArrives) {
    std::string body = R"({"devices":[]})";
    HttpRawListener trickling("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                                  "\r\nConnection: close\r\n\r\n" + body,
                              std::chrono::milliseconds(600));
    std::string refused = "http://127.0.0.1:" + std::to_string(closedLoopbackPort()) + "/";
    APIClient client({trickling.baseURL(), refused, refused});
    auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(client.devices("token").devices.empty());
    EXPECT_GT(std::chrono::steady_clock::now() - started, std::chrono::seconds(7));
    EXPECT_EQ(trickling.requests().size(), 1u);
}

TEST(UpdateCheckerSlow, AStalledFirstMirrorGivesWayToTheSecondAfterFiveSeconds) {
    TempDir dir;
    UpdateMirrors mirrors(dir.path());
    mirrors.first().setManifest(UpdateMirrors::manifest("9.0.0", "https://cdn.example/a.dmg"),
                                std::chrono::seconds(30));
    mirrors.second().setManifest(UpdateMirrors::manifest("2.0.0", "https://cdn.example/files/b.dmg"));
    auto started = std::chrono::steady_clock::now();
    auto info = UpdateChecker::check("1.0.0", true);
    auto waited = std::chrono::steady_clock::now() - started;
    ASSERT_TRUE(info);
    EXPECT_EQ(info->version, "2.0.0");
    EXPECT_GE(waited, std::chrono::milliseconds(4500));
    EXPECT_LT(waited, std::chrono::seconds(20));
}

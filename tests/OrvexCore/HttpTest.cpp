#include "Http.h"

#include <gtest/gtest.h>

#include "APIServerFixture.h"
#include "HttpRawListener.h"

using namespace orvex;
using namespace orvex::test;
using Code = Http::TransportError::Code;

namespace {

Http::TransportError::Code failureOf(const Http::Request& request) {
    try {
        Http::perform(request);
    } catch (const Http::TransportError& error) {
        EXPECT_STREQ(error.what(), Http::TransportError::describe(error.code));
        return error.code;
    }
    ADD_FAILURE() << "no transport error for " << request.url;
    return Code::unknown;
}

} // namespace

TEST(Http, SendsMethodBodyAndHeadersInTheGivenOrder) {
    HttpRawListener listener("HTTP/1.1 201 Created\r\nX-One: 1\r\nretry-after:  7 \r\nContent-Length: 2\r\n"
                             "Connection: close\r\n\r\nok");
    Http::Request request;
    request.method = "POST";
    request.url = listener.baseURL() + "api/x?q=1";
    request.headers = {{"Zeta", "z"}, {"Content-Type", "application/json"}, {"Alpha", "a"}};
    request.body = R"({"k":1})";
    Http::Response response = Http::perform(request);
    EXPECT_EQ(response.status, 201);
    EXPECT_EQ(response.body, "ok");
    EXPECT_EQ(response.header("Retry-After"), "7");
    EXPECT_EQ(response.header("x-one"), "1");

    request.method = "GET";
    request.body.reset();
    request.headers = {{"B", "2"}, {"A", "1"}};
    Http::perform(request);

    auto seen = listener.requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_TRUE(seen[0].starts_with("POST /api/x?q=1 HTTP/1.1\r\n")) << seen[0];
    size_t zeta = seen[0].find("\r\nZeta: z\r\n"),
           type = seen[0].find("\r\nContent-Type: application/json\r\n"),
           alpha = seen[0].find("\r\nAlpha: a\r\n");
    ASSERT_NE(zeta, std::string::npos);
    ASSERT_NE(type, std::string::npos);
    ASSERT_NE(alpha, std::string::npos);
    EXPECT_LT(zeta, type);
    EXPECT_LT(type, alpha);
    EXPECT_TRUE(seen[0].ends_with("\r\n\r\n{\"k\":1}"));
    EXPECT_EQ(seen[0].find("Expect:"), std::string::npos);
    EXPECT_EQ(seen[0].find("Cookie"), std::string::npos);

    // Neither a GET nor a POST without a content type of its own gets libcurl's form type.
    EXPECT_TRUE(seen[1].starts_with("GET /api/x?q=1 HTTP/1.1\r\n"));
    EXPECT_LT(seen[1].find("\r\nB: 2\r\n"), seen[1].find("\r\nA: 1\r\n"));
    EXPECT_EQ(seen[1].find("Content-Type"), std::string::npos);
}

TEST(Http, TransportFailuresReadLikeThePlatformsURLErrors) {
    Http::Request refused;
    refused.url = "http://127.0.0.1:" + std::to_string(APIServerFixture::closedPort()) + "/";
    EXPECT_EQ(failureOf(refused), Code::cannotConnectToHost);
    EXPECT_STREQ(Http::TransportError::describe(Code::cannotConnectToHost),
                 "Could not connect to the server.");

    HttpRawListener silent("");
    Http::Request slow;
    slow.url = silent.baseURL();
    slow.timeout = 0.5;
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(failureOf(slow), Code::timedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_STREQ(Http::TransportError::describe(Code::timedOut), "The request timed out.");

    Http::Request unsupported;
    unsupported.url = "file:///etc/passwd";
    EXPECT_EQ(failureOf(unsupported), Code::unsupportedURL);
    EXPECT_FALSE(Http::isValidURL("file:///etc/passwd"));
    EXPECT_FALSE(Http::isValidURL("https://"));
    EXPECT_FALSE(Http::isValidURL("not a url"));
    EXPECT_TRUE(Http::isValidURL("https://127.0.0.1:1/api/notifications?since=0"));
}

TEST(Http, IdleLimitSparesAnAnswerThatKeepsMoving) {
    HttpRawListener trickling("HTTP/1.1 200 OK\r\nContent-Length: 10\r\nConnection: close\r\n\r\n0123456789",
                              std::chrono::milliseconds(250));
    Http::Request request;
    request.url = trickling.baseURL();
    request.timeout = 0;
    request.idleTimeout = 1;
    EXPECT_EQ(Http::perform(request).body, "0123456789");

    HttpRawListener silent("");
    request.url = silent.baseURL();
    request.idleTimeout = 0.5;
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(failureOf(request), Code::timedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
}

TEST(Http, TrustsTheExtraCAOnlyWhenConfigured) {
    APIServerFixture fixture;
    auto server = fixture.start();
    Http::Request request;
    request.url = server->baseURL() + "nothing-here";
    EXPECT_EQ(Http::perform(request).status, 404);
    {
        ScopedEnv noExtraCA("ORVEX_CA_FILE", std::nullopt);
        EXPECT_EQ(failureOf(request), Code::serverCertificateUntrusted);
    }
    {
        ScopedEnv missing("ORVEX_CA_FILE", "/nonexistent/ca.pem");
        EXPECT_EQ(failureOf(request), Code::serverCertificateUntrusted);
    }
}

TEST(Http, LimitsStreamsAndCancelsBodies) {
    APIServerFixture fixture;
    auto server = fixture.start(false);
    std::string big(200000, 'x');
    server->setOverride("/big", Override{.body = big, .contentType = "application/octet-stream"});
    Http::Request request;
    request.url = server->baseURL() + "big";

    request.maxBytes = big.size();
    EXPECT_EQ(Http::perform(request).body, big);
    request.maxBytes = big.size() - 1;
    EXPECT_EQ(failureOf(request), Code::dataLengthExceedsMaximum);
    request.maxBytes.reset();

    std::string streamed;
    request.onData = [&](std::string_view chunk) { streamed += chunk; };
    Http::Response response = Http::perform(request);
    EXPECT_EQ(streamed, big);
    EXPECT_TRUE(response.body.empty());

    request.onData = [](std::string_view) { throw std::runtime_error("disk full"); };
    try {
        Http::perform(request);
        ADD_FAILURE() << "the sink's failure was swallowed";
    } catch (const Http::TransportError&) {
        ADD_FAILURE() << "the sink's failure became a transport error";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "disk full");
    }
    request.onData = nullptr;

    // Large enough that the transfer is still running when the callback first sees data.
    server->setOverride(
        "/huge", Override{.body = std::string(8 << 20, 'h'), .contentType = "application/octet-stream"});
    request.url = server->baseURL() + "huge";
    std::uint64_t lastSeen = 0;
    request.onProgress = [&](std::uint64_t received, std::uint64_t) {
        lastSeen = received;
        return received == 0;
    };
    EXPECT_EQ(failureOf(request), Code::cancelled);
    EXPECT_GT(lastSeen, 0u);
}

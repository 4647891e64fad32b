// HTTPS through the one libcurl wrapper, and the account server's client on top of it; the
// account flows of the interface drive every operation against the same server.
#include "APIClient.h"
#include "APIError.h"
#include "APIServerFixture.h"
#include "Http.h"
#include "HttpRawListener.h"
#include "SystemInfo.h"
#include "Thrown.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/utsname.h>

using namespace orvex;
using namespace orvex::test;
using Code = Http::TransportError::Code;

namespace {

Code failureOf(const Http::Request& request) {
    auto error = thrown<Http::TransportError>([&] { Http::perform(request); });
    if (!error) return Code::unknown;
    EXPECT_STREQ(error->what(), Http::TransportError::describe(error->code));
    return error->code;
}

std::string refusedBase() { return "https://127.0.0.1:" + std::to_string(closedLoopbackPort()) + "/"; }

class APIClientTest : public ::testing::Test {
protected:
    APIServerFixture fixture;
    std::unique_ptr<AccountServer> server = fixture.start();
    std::string token = server->token();
};

} // namespace

TEST(Http, TransportFailuresReadLikeThePlatformsURLErrors) {
    Http::Request request;
    request.url = "http://127.0.0.1:" + std::to_string(closedLoopbackPort()) + "/";
    EXPECT_EQ(failureOf(request), Code::cannotConnectToHost);
    request.url = "file:///etc/passwd";
    EXPECT_EQ(failureOf(request), Code::unsupportedURL);
    for (const char* invalid : {"file:///etc/passwd", "https://", "not a url"})
        EXPECT_FALSE(Http::isValidURL(invalid));
    // The idle limit spares an answer that keeps moving; the overall one and the idle one
    // both end a silent exchange.
    HttpRawListener trickling("HTTP/1.1 200 OK\r\nContent-Length: 10\r\nConnection: close\r\n\r\n0123456789",
                              std::chrono::milliseconds(250));
    request.url = trickling.baseURL();
    request.timeout = 0;
    request.idleTimeout = 1;
    EXPECT_EQ(Http::perform(request).body, "0123456789");
    HttpRawListener silent("");
    request.url = silent.baseURL();
    for (auto [timeout, idle] : {std::pair{0.5, 0.0}, {0.0, 0.5}}) {
        request.timeout = timeout;
        request.idleTimeout = idle;
        auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(failureOf(request), Code::timedOut);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    }
}

TEST(Http, TrustsTheExtraCAOnlyWhenConfiguredAndLimitsBodies) {
    APIServerFixture fixture;
    auto server = fixture.start();
    std::string big(200000, 'x');
    server->setOverride("/big", Override{.body = big, .contentType = "application/octet-stream"});
    Http::Request request;
    request.url = server->baseURL() + "big";
    request.maxBytes = big.size();
    EXPECT_EQ(Http::perform(request).body, big);
    request.maxBytes = big.size() - 1;
    EXPECT_EQ(failureOf(request), Code::dataLengthExceedsMaximum);
    for (auto ca : {std::optional<std::string>(), std::optional<std::string>("/nonexistent/ca.pem")}) {
        ScopedEnv other("ORVEX_CA_FILE", ca);
        EXPECT_EQ(failureOf(request), Code::serverCertificateUntrusted);
    }
    // A download sink's own failure comes through as it is, not as a transport error.
    request.maxBytes.reset();
    request.onData = [](std::string_view) { throw std::runtime_error("disk full"); };
    EXPECT_EQ(whatOf([&] { Http::perform(request); }), "disk full");
}

TEST_F(APIClientTest, SendsTheHeadersQueriesAndContentTypesTheServerExpects) {
    APIClient client({server->baseURL()});
    APIClient::setAppVersion("1.2.3");
    client.config(token);
    client.changeServer(token, 2);
    client.logout(token);
    for (std::int64_t since : {-1, 0}) client.notifications(token, since);
    client.auth(AccountServer::signInCode, "L");
    EXPECT_EQ(thrown<APIError>([&] { client.subscription(""); }).value().status, 401);
    APIClient::setAppVersion("0.0.0-dev");
    utsname names{};
    ASSERT_EQ(uname(&names), 0);
    auto seen = server->requests();
    ASSERT_EQ(seen.size(), 7u);
    for (const RecordedRequest& request : seen) {
        EXPECT_EQ(request.header("X-App-Version"), "1.2.3");
        EXPECT_EQ(request.header("X-Device-Platform"), "linux");
        EXPECT_EQ(request.header("X-Device-Model"), SystemInfo::model());
        EXPECT_EQ(request.header("X-Device-System"), std::string("Linux ") + names.release);
        EXPECT_FALSE(request.hasHeader("Cookie"));
    }
    EXPECT_TRUE(!SystemInfo::model().empty() && SystemInfo::model().find('\n') == std::string::npos);
    EXPECT_EQ(seen[0].header("Authorization"), "Bearer " + token);
    EXPECT_FALSE(seen[0].hasHeader("Content-Type") || seen[2].hasHeader("Content-Type"));
    EXPECT_EQ(seen[1].header("Content-Type"), "application/json");
    EXPECT_EQ(seen[1].body, R"({"server_id":2})");
    EXPECT_EQ(seen[2].method, "POST");
    EXPECT_EQ(seen[3].query + "|" + seen[4].query, "|since=0");
    auto auth = nlohmann::json::parse(seen[5].body);
    EXPECT_EQ(auth["platform"].get<std::string>() + "|" + auth["system_version"].get<std::string>(),
              std::string("linux|Linux ") + names.release);
    EXPECT_FALSE(seen[5].hasHeader("Authorization") || seen[6].hasHeader("Authorization"));
    // On the wire, which only a raw listener keeps: the headers in this order, one content type
    // and no "Expect" that libcurl adds to large bodies; a lowercase answer header still counts.
    std::string busy = R"({"detail":"занят"})", upload(1'100'000, 'd');
    HttpRawListener raw("HTTP/1.1 503 Busy\r\nretry-after:  7 \r\nContent-Length: " +
                        std::to_string(busy.size()) + "\r\nConnection: close\r\n\r\n" + busy);
    APIError refused =
        thrown<APIError>([&] {
            APIClient({raw.baseURL()})
                .perform("POST", "api/x?filename=x", "t0k", upload, "application/octet-stream");
        }).value();
    EXPECT_EQ(std::to_string(refused.status) + " " + refused.what() + " " +
                  std::to_string(refused.retryAfter),
              "503 занят 7");
    std::string wire = raw.requests().at(0);
    EXPECT_TRUE(wire.starts_with("POST /api/x?filename=x HTTP/1.1\r\n") &&
                wire.ends_with("\r\n\r\n" + upload));
    size_t previous = 0;
    for (const char* line :
         {"\r\nContent-Type: application/octet-stream\r\n", "\r\nAuthorization: Bearer t0k\r\n",
          "\r\nX-App-Version: 0.0.0-dev\r\n", "\r\nX-Device-Platform: linux\r\n",
          "\r\nX-Device-Model: ", "\r\nX-Device-System: "}) {
        size_t at = wire.find(line);
        EXPECT_TRUE(at != std::string::npos && at > previous) << line << " in " << wire.substr(0, 400);
        previous = at;
    }
    EXPECT_EQ(wire.find("Content-Type"), wire.rfind("Content-Type"));
    EXPECT_EQ(wire.find("Expect:"), std::string::npos);
}

TEST_F(APIClientTest, MovesToTheNextBaseOnlyWithoutAnHTTPAnswer) {
    auto second = fixture.start();
    int firstPort = server->port();
    server.reset(); // its port now refuses connections
    APIClient client(
        {"https://127.0.0.1:" + std::to_string(firstPort) + "/", second->baseURL(), refusedBase()});
    EXPECT_EQ(client.servers(token).servers.size(), 3u);
    EXPECT_EQ(second->requestCount(), 1u);
    // Nothing is remembered: once the first base is back, the next request goes there; any
    // HTTP status ends the request on the base that gave it.
    server = fixture.start(true, firstPort);
    EXPECT_EQ(client.servers(token).changeCooldown, 300);
    server->setOverride("/api/servers",
                        Override{.status = 404, .body = "Not Found", .contentType = "text/plain"});
    EXPECT_EQ(thrown<APIError>([&] { client.servers(token); }).value().status, 404);
    EXPECT_EQ(server->requestCount(), 2u);
    EXPECT_EQ(second->requestCount(), 1u);
    // A 2xx answer that is not the expected record is the decoder's failure, not the network's.
    server->setOverride("/api/servers", Override{.body = R"({"servers":[],"change_retry_after":0})"});
    EXPECT_THROW(client.servers(token), CodingError);
    EXPECT_EQ(thrown<Http::TransportError>([&] {
                  APIClient({refusedBase(), refusedBase()}).config(token);
              })
                  .value()
                  .code,
              Code::cannotConnectToHost);
    APIError unreachable = thrown<APIError>([&] {
                               APIClient({"not a url/", "ftp://127.0.0.1/"}).config(token);
                           }).value();
    EXPECT_EQ(unreachable.status, 0);
    EXPECT_STREQ(unreachable.what(), "нет связи с сервером");
}

TEST_F(APIClientTest, ASilentFirstBaseGivesWayAfterItsTimeOut) {
    auto healthy = fixture.start();
    server->setOverride("/api/devices", Override{.body = "{}", .delay = std::chrono::seconds(30)});
    APIClient client({server->baseURL(), healthy->baseURL(), healthy->baseURL()});
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(client.devices(token).devices.size(), 3u);
    auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_GE(elapsed, std::chrono::milliseconds(5900));
    EXPECT_LT(elapsed, std::chrono::seconds(20));
}

// The interface refuses a file over the cap before sending; here the cap itself is allowed.
TEST_F(APIClientTest, AttachmentsAreCappedAndTheirNamesEncoded) {
    APIClient client({server->baseURL()});
    std::string limit(APIClient::maxAttachmentBytes, 'a');
    EXPECT_EQ(
        thrown<APIError>([&] { client.uploadSupportFile(token, "big.bin", limit + "b"); }).value().status,
        413);
    client.uploadSupportFile(token, "big.bin", limit);
    ASSERT_EQ(server->requestCount(), 1u);
    EXPECT_EQ(server->requests()[0].body.size(), limit.size());
    std::string name = "отчёт a&b=c+-._~.log", content("\x00\x01\xff payload", 11);
    client.uploadSupportFile(token, name, content);
    EXPECT_EQ(server->requests().back().query,
              "filename=%D0%BE%D1%82%D1%87%D1%91%D1%82%20a%26b%3Dc%2B-._~.log");
    auto messages = client.supportMessages(token, 0, 100).messages;
    ASSERT_EQ(messages.back().fileName, name);
    EXPECT_EQ(client.supportFile(token, messages.back().id), content);
    EXPECT_EQ(APIClient::encodeFileName(std::string("bad\xff", 4)), "file");
}

TEST(APIClient, ReadsTheServersExplanationAndRetryHint) {
    EXPECT_EQ(APIClient::detail(R"({"detail":"d","message":"m"})"), "d");
    EXPECT_EQ(APIClient::detail(R"({"detail":[{"msg":"x"}],"message":"m"})"), "m");
    for (const char* none : {R"({"detail":null,"message":5})", R"(["detail"])", "Bad Gateway"})
        EXPECT_EQ(APIClient::detail(none), "") << none;
    EXPECT_EQ(APIError::parseRetryAfter("+15"), 15);
    EXPECT_EQ(APIError::parseRetryAfter("9223372036854775807"), INT64_MAX);
    for (const char* unusable : {"", "0", "-5", "12s", "+", "1 2", "9223372036854775808", "\n30"})
        EXPECT_EQ(APIError::parseRetryAfter(unusable), 0) << unusable;
    EXPECT_EQ(APIError::parseRetryAfter(std::nullopt), 0);
}

// HTTPS through the one libcurl wrapper, and the account server's client on top of it.
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

class APIClientTest : public ::testing::Test {
protected:
    APIServerFixture fixture;
    std::unique_ptr<AccountServer> server = fixture.start();
    std::string token = server->token();

    // The requests the server saw on `path`, oldest first.
    std::vector<RecordedRequest> seenOn(const std::string& path) const {
        std::vector<RecordedRequest> matches;
        for (const auto& request : server->requests())
            if (request.path == path) matches.push_back(request);
        return matches;
    }
};

std::string refusedBase() { return "https://127.0.0.1:" + std::to_string(closedLoopbackPort()) + "/"; }

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
    EXPECT_EQ(std::to_string(response.status) + " " + response.body + " " +
                  response.header("Retry-After").value() + " " + response.header("x-one").value(),
              "201 ok 7 1");
    request.method = "GET";
    request.body.reset();
    request.headers = {};
    Http::perform(request);
    auto seen = listener.requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_TRUE(seen[0].starts_with("POST /api/x?q=1 HTTP/1.1\r\n")) << seen[0];
    EXPECT_TRUE(seen[0].ends_with("\r\n\r\n{\"k\":1}"));
    size_t zeta = seen[0].find("\r\nZeta: z\r\n"),
           type = seen[0].find("\r\nContent-Type: application/json\r\n"),
           alpha = seen[0].find("\r\nAlpha: a\r\n");
    EXPECT_TRUE(zeta < type && type < alpha && alpha != std::string::npos) << seen[0];
    EXPECT_TRUE(seen[0].find("Expect:") == std::string::npos && seen[0].find("Cookie") == std::string::npos);
    // Neither a GET nor a POST without a content type of its own gets libcurl's form type.
    EXPECT_TRUE(seen[1].starts_with("GET /api/x?q=1 HTTP/1.1\r\n"));
    EXPECT_EQ(seen[1].find("Content-Type"), std::string::npos);
}

TEST(Http, TransportFailuresReadLikeThePlatformsURLErrors) {
    Http::Request request;
    request.url = "http://127.0.0.1:" + std::to_string(closedLoopbackPort()) + "/";
    EXPECT_EQ(failureOf(request), Code::cannotConnectToHost);
    request.url = "file:///etc/passwd";
    EXPECT_EQ(failureOf(request), Code::unsupportedURL);
    for (const char* invalid : {"file:///etc/passwd", "https://", "not a url"})
        EXPECT_FALSE(Http::isValidURL(invalid));
    EXPECT_TRUE(Http::isValidURL("https://127.0.0.1:1/api/notifications?since=0"));
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

TEST(Http, TrustsTheExtraCAOnlyWhenConfigured) {
    APIServerFixture fixture;
    auto server = fixture.start();
    Http::Request request;
    request.url = server->baseURL() + "nothing-here";
    EXPECT_EQ(Http::perform(request).status, 404);
    for (auto ca : {std::optional<std::string>(), std::optional<std::string>("/nonexistent/ca.pem")}) {
        ScopedEnv other("ORVEX_CA_FILE", ca);
        EXPECT_EQ(failureOf(request), Code::serverCertificateUntrusted);
    }
}

TEST(Http, LimitsAndStreamsBodies) {
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
    EXPECT_TRUE(Http::perform(request).body.empty());
    EXPECT_EQ(streamed, big);
    // The sink's own failure comes through as it is, not as a transport error.
    request.onData = [](std::string_view) { throw std::runtime_error("disk full"); };
    EXPECT_EQ(whatOf([&] { Http::perform(request); }), "disk full");
}

TEST_F(APIClientTest, SendsTheHeadersAndContentTypesTheServerExpects) {
    APIClient client({server->baseURL()});
    APIClient::setAppVersion("1.2.3");
    client.config(token);
    client.changeServer(token, 2);
    client.logout(token);
    client.uploadSupportFile(token, "a.txt", "bytes");
    EXPECT_EQ(thrown<APIError>([&] { client.subscription(""); }).value().status, 401);
    APIClient::setAppVersion("0.0.0-dev");
    auto seen = server->requests();
    ASSERT_EQ(seen.size(), 5u);
    // Every request carries the application's and the device's headers, and no cookie.
    for (const RecordedRequest& request : seen) {
        EXPECT_EQ(request.header("X-App-Version"), "1.2.3");
        EXPECT_EQ(request.header("X-Device-Platform"), "linux");
        EXPECT_EQ(request.header("X-Device-Model"), APIClient::deviceModel());
        EXPECT_EQ(request.header("X-Device-System"), APIClient::systemVersion());
        EXPECT_FALSE(request.hasHeader("Cookie"));
    }
    EXPECT_EQ(seen[0].header("Authorization"), "Bearer " + token);
    EXPECT_FALSE(seen[0].hasHeader("Content-Type"));
    EXPECT_EQ(seen[1].header("Content-Type"), "application/json");
    EXPECT_EQ(seen[1].body, R"({"server_id":2})");
    EXPECT_EQ(seen[2].method, "POST");
    EXPECT_FALSE(seen[2].hasHeader("Content-Type"));
    EXPECT_EQ(seen[3].header("Content-Type"), "application/octet-stream");
    EXPECT_FALSE(seen[4].hasHeader("Authorization"));
    // The order on the wire, which only a raw listener keeps; one content type only.
    HttpRawListener raw("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    APIClient({raw.baseURL()})
        .perform("POST", "api/support/messages/file?filename=x", "t0k", "data", "application/octet-stream");
    std::string wire = raw.requests().at(0);
    size_t previous = 0;
    for (const char* line :
         {"\r\nContent-Type: application/octet-stream\r\n", "\r\nAuthorization: Bearer t0k\r\n",
          "\r\nX-App-Version: 0.0.0-dev\r\n", "\r\nX-Device-Platform: linux\r\n",
          "\r\nX-Device-Model: ", "\r\nX-Device-System: "}) {
        size_t at = wire.find(line);
        EXPECT_TRUE(at != std::string::npos && at > previous) << line << " in " << wire;
        previous = at;
    }
    EXPECT_EQ(wire.find("Content-Type"), wire.rfind("Content-Type"));
}

TEST_F(APIClientTest, MovesToTheNextBaseOnlyWithoutAnHTTPAnswer) {
    auto second = fixture.start();
    int firstPort = server->port();
    server.reset(); // its port now refuses connections
    APIClient client(
        {"https://127.0.0.1:" + std::to_string(firstPort) + "/", second->baseURL(), refusedBase()});
    EXPECT_EQ(client.servers(token).servers.size(), 3u);
    EXPECT_EQ(second->requestCount(), 1u);
    // Nothing is remembered: once the first base is back, the next request goes there.
    server = fixture.start(true, firstPort);
    EXPECT_EQ(client.servers(token).changeCooldown, 300);
    EXPECT_EQ(server->requestCount(), 1u);
    // Any HTTP status ends the request on the base that gave it.
    server->setOverride("/api/servers",
                        Override{.status = 404, .body = "Not Found", .contentType = "text/plain"});
    APIError notFound = thrown<APIError>([&] { client.servers(token); }).value();
    EXPECT_EQ(notFound.status, 404);
    server->setOverride(
        "/api/servers",
        Override{.status = 503, .body = R"({"detail":["x"],"message":"занят"})", .retryAfter = " 30 "});
    APIError busy = thrown<APIError>([&] { client.servers(token); }).value();
    EXPECT_EQ(std::to_string(busy.status) + " " + busy.what() + " " + std::to_string(busy.retryAfter),
              "503 занят 30");
    EXPECT_EQ(second->requestCount(), 1u);
    // A 2xx answer that is not the expected record is the decoder's failure, not the network's;
    // where the body does not matter, any 2xx body is success.
    server->setOverride("/api/servers", Override{.body = R"({"servers":[],"change_retry_after":0})"});
    EXPECT_THROW(client.servers(token), CodingError);
    server->setOverride("/api/support/messages",
                        Override{.body = "<html>ok</html>", .contentType = "text/html"});
    EXPECT_NO_THROW(client.sendSupportMessage(token, "привет"));
    EXPECT_EQ(thrown<Http::TransportError>([&] {
                  APIClient({refusedBase(), refusedBase()}).config(token);
              })
                  .value()
                  .code,
              Http::TransportError::Code::cannotConnectToHost);
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

// The screens run every operation against this server; what only the wire shows is checked here.
TEST_F(APIClientTest, OperationsSendTheirQueriesAndBodies) {
    APIClient client({server->baseURL()});
    client.auth(AccountServer::signInCode, "Рабочий ноутбук");
    client.resetPassword(AccountServer::resetCode, "new-pw");
    for (std::int64_t since : {-1, 7, 0}) client.notifications(token, since);
    client.events(token, 2);
    client.supportMessages(token, 0, 50);
    client.supportReport(token,
                         SupportReportRequest{"1.0", "Linux 6", "connected", "Германия", "", "log", {}});
    client.revokeOtherDevices(token);
    client.logout(token);
    auto auth = seenOn("/api/auth").at(0);
    EXPECT_FALSE(auth.hasHeader("Authorization"));
    EXPECT_EQ(auth.body,
              R"({"code":"246810","device_label":"Рабочий ноутбук","platform":"linux","device_model":)" +
                  nlohmann::json(APIClient::deviceModel()).dump() + R"(,"system_version":)" +
                  nlohmann::json(APIClient::systemVersion()).dump() + "}");
    EXPECT_EQ(seenOn("/api/password/reset").at(0).body, R"({"token":"RESET-7","new_password":"new-pw"})");
    auto notifications = seenOn("/api/notifications");
    ASSERT_EQ(notifications.size(), 3u);
    EXPECT_EQ(notifications[0].query + "|" + notifications[1].query + "|" + notifications[2].query,
              "|since=7|since=0");
    EXPECT_EQ(seenOn("/api/events").at(0).query, "limit=2");
    EXPECT_EQ(seenOn("/api/support/messages").at(0).query, "limit=50&after_id=0");
    EXPECT_EQ(seenOn("/api/support/report").at(0).body,
              R"({"app_version":"1.0","android_version":"Linux 6","status":"connected","server":"Германия",)"
              R"("last_error":"","app_log":"log"})");
    EXPECT_EQ(seenOn("/api/devices/revoke-others").at(0).body, "");
    EXPECT_EQ(seenOn("/api/logout").at(0).method, "POST");
}

TEST_F(APIClientTest, AttachmentsAreCappedAndTheirNamesEncoded) {
    APIClient client({server->baseURL()});
    std::string limit(APIClient::maxAttachmentBytes, 'a');
    APIError refused =
        thrown<APIError>([&] { client.uploadSupportFile(token, "big.bin", limit + "b"); }).value();
    EXPECT_EQ(refused.status, 413);
    EXPECT_EQ(server->requestCount(), 0u);
    client.uploadSupportFile(token, "big.bin", limit);
    ASSERT_EQ(server->requestCount(), 1u);
    EXPECT_EQ(server->requests()[0].body.size(), limit.size());
    std::string name = "отчёт a&b=c+-._~.log";
    std::string content("\x00\x01\xff payload", 11);
    client.uploadSupportFile(token, name, content);
    RecordedRequest upload = server->requests().back();
    EXPECT_EQ(upload.query, "filename=%D0%BE%D1%82%D1%87%D1%91%D1%82%20a%26b%3Dc%2B-._~.log");
    auto messages = client.supportMessages(token, 0, 100).messages;
    ASSERT_EQ(messages.back().fileName, name);
    EXPECT_EQ(client.supportFile(token, messages.back().id), content);
    EXPECT_EQ(APIClient::encodeFileName(std::string("bad\xff", 4)), "file");
}

TEST(APIClient, ReadsTheServersExplanationAndRetryHint) {
    EXPECT_EQ(APIClient::detail(R"({"detail":"d","message":"m"})"), "d");
    EXPECT_EQ(APIClient::detail(R"({"detail":[{"msg":"x"}],"message":"m"})"), "m");
    for (const char* none : {R"({"detail":null,"message":5})", R"(["detail"])", "Bad Gateway", ""})
        EXPECT_EQ(APIClient::detail(none), "") << none;
    EXPECT_EQ(APIError::parseRetryAfter(std::nullopt), 0);
    EXPECT_EQ(APIError::parseRetryAfter(" \t30  "), 30);
    EXPECT_EQ(APIError::parseRetryAfter("+15"), 15);
    EXPECT_EQ(APIError::parseRetryAfter("9223372036854775807"), INT64_MAX);
    for (const char* unusable : {"", "  ", "0", "-5", "abc", "12s", "+", "-", "1 2", "9223372036854775808",
                                 "99999999999999999999", "Wed, 21 Oct 2015 07:28:00 GMT", "\n30"})
        EXPECT_EQ(APIError::parseRetryAfter(unusable), 0) << unusable;
}

TEST(APIClient, NamesTheLinuxDevice) {
    utsname names{};
    ASSERT_EQ(uname(&names), 0);
    EXPECT_EQ(APIClient::systemVersion(), std::string("Linux ") + names.release);
    EXPECT_EQ(APIClient::deviceModel(), SystemInfo::model());
    EXPECT_TRUE(!SystemInfo::model().empty() && SystemInfo::model().find('\n') == std::string::npos);
    EXPECT_FALSE(SystemInfo::hostName().empty());
}

#include "APIClient.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "APIError.h"
#include "APIServerFixture.h"
#include "Http.h"
#include "HttpRawListener.h"

using namespace orvex;
using namespace orvex::test;

namespace {

class APIClientTest : public ::testing::Test {
protected:
    APIServerFixture fixture;

    template <typename F> APIError apiError(F&& call) {
        try {
            call();
        } catch (const APIError& error) {
            return error;
        }
        ADD_FAILURE() << "no APIError";
        return APIError(-1, "");
    }
};

std::string nlohmannQuote(const std::string& text) { return nlohmann::json(text).dump(); }

std::string refusedBase() {
    return "https://127.0.0.1:" + std::to_string(APIServerFixture::closedPort()) + "/";
}

} // namespace

TEST_F(APIClientTest, SendsTheHeadersAndContentTypesTheServerExpects) {
    auto server = fixture.start();
    APIClient client({server->baseURL(), server->baseURL(), server->baseURL()});
    APIClient::setAppVersion("1.2.3");
    std::string token = server->token();

    client.config(token);
    client.changeServer(token, 2);
    client.logout(token);
    client.uploadSupportFile(token, "a.txt", "bytes");
    EXPECT_EQ(apiError([&] { client.subscription(""); }).status, 401);

    auto seen = server->requests();
    ASSERT_EQ(seen.size(), 5u);
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
    APIClient::setAppVersion("0.0.0-dev");

    // The order on the wire, which only a raw listener keeps.
    HttpRawListener raw("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    APIClient rawClient({raw.baseURL()});
    rawClient.perform("POST", "api/support/messages/file?filename=x", "t0k", "data",
                      "application/octet-stream");
    auto wire = raw.requests();
    ASSERT_EQ(wire.size(), 1u);
    std::vector<std::string> order = {"\r\nContent-Type: application/octet-stream\r\n",
                                      "\r\nAuthorization: Bearer t0k\r\n",
                                      "\r\nX-App-Version: 0.0.0-dev\r\n",
                                      "\r\nX-Device-Platform: linux\r\n",
                                      "\r\nX-Device-Model: ",
                                      "\r\nX-Device-System: "};
    size_t previous = 0;
    for (const std::string& line : order) {
        size_t at = wire[0].find(line);
        ASSERT_NE(at, std::string::npos) << line << " in " << wire[0];
        EXPECT_GT(at, previous) << line;
        previous = at;
    }
    EXPECT_EQ(wire[0].find("Content-Type"), wire[0].rfind("Content-Type")) << "one content type only";
}

TEST_F(APIClientTest, MovesToTheNextBaseOnlyWithoutAnHTTPAnswer) {
    auto first = fixture.start();
    auto second = fixture.start();
    int firstPort = first->port();
    std::string token = first->token();
    first.reset(); // its port now refuses connections

    APIClient client(
        {"https://127.0.0.1:" + std::to_string(firstPort) + "/", second->baseURL(), refusedBase()});
    EXPECT_EQ(client.servers(token).servers.size(), 3u);
    EXPECT_EQ(second->requestCount(), 1u);

    // Nothing is remembered: once the first base is back, the next request goes there.
    first = fixture.start(true, firstPort);
    EXPECT_EQ(client.servers(token).changeCooldown, 300);
    EXPECT_EQ(first->requestCount(), 1u);
    EXPECT_EQ(second->requestCount(), 1u);

    // Any HTTP status ends the request on the base that gave it.
    first->setOverride("/api/servers",
                       Override{.status = 404, .body = "Not Found", .contentType = "text/plain"});
    APIError notFound = apiError([&] { client.servers(token); });
    EXPECT_EQ(notFound.status, 404);
    EXPECT_EQ(notFound.detail, "");
    EXPECT_STREQ(notFound.what(), "Сервер вернул ошибку 404");
    first->setOverride(
        "/api/servers",
        Override{.status = 503, .body = R"({"detail":["x"],"message":"занят"})", .retryAfter = " 30 "});
    APIError busy = apiError([&] { client.servers(token); });
    EXPECT_EQ(busy.status, 503);
    EXPECT_EQ(busy.detail, "занят");
    EXPECT_EQ(busy.retryAfter, 30);
    EXPECT_STREQ(busy.what(), "занят");
    EXPECT_EQ(second->requestCount(), 1u);

    // A 2xx answer that is not the expected record is the decoder's failure, not the network's.
    first->setOverride("/api/servers", Override{.body = R"({"servers":[],"change_retry_after":0})"});
    EXPECT_THROW(client.servers(token), CodingError);
    // Where the body does not matter, any 2xx body is success.
    first->setOverride("/api/support/messages",
                       Override{.body = "<html>ok</html>", .contentType = "text/html"});
    EXPECT_NO_THROW(client.sendSupportMessage(token, "привет"));

    APIClient nowhere({refusedBase(), refusedBase()});
    try {
        nowhere.config(token);
        ADD_FAILURE() << "refused everywhere yet succeeded";
    } catch (const Http::TransportError& error) {
        EXPECT_EQ(error.code, Http::TransportError::Code::cannotConnectToHost);
    }
    APIClient invalid({"not a url/", "ftp://127.0.0.1/"});
    APIError unreachable = apiError([&] { invalid.config(token); });
    EXPECT_EQ(unreachable.status, 0);
    EXPECT_STREQ(unreachable.what(), "нет связи с сервером");
}

TEST_F(APIClientTest, ASilentFirstBaseGivesWayAfterItsTimeOut) {
    auto stalled = fixture.start();
    auto healthy = fixture.start();
    stalled->setOverride("/api/devices", Override{.body = "{}", .delay = std::chrono::seconds(30)});
    APIClient client({stalled->baseURL(), healthy->baseURL(), healthy->baseURL()});
    auto started = std::chrono::steady_clock::now();
    DevicesResponse devices = client.devices(stalled->token());
    auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(devices.devices.size(), 3u);
    EXPECT_GE(elapsed, std::chrono::milliseconds(5900));
    EXPECT_LT(elapsed, std::chrono::seconds(20));
}

TEST_F(APIClientTest, EveryOperationWorksAgainstTheDemoServer) {
    auto server = fixture.start();
    APIClient client({server->baseURL(), server->baseURL(), server->baseURL()});

    EXPECT_EQ(client.auth(AccountServer::signInCode, "Рабочий ноутбук").token, server->token());
    EXPECT_EQ(client.login(AccountServer::email, AccountServer::password, "host").tokenType, "bearer");
    EXPECT_EQ(apiError([&] { client.login(AccountServer::email, "wrong", "host"); }).detail,
              "Неверный e-mail или пароль");
    EXPECT_FALSE(client.registerAccount("new@orvex.test", "pw").message.empty());
    EXPECT_FALSE(client.forgotPassword(AccountServer::email).message.empty());
    EXPECT_EQ(client.resetPassword(AccountServer::resetCode, "new-pw").message, "Пароль изменён");
    std::string token = server->token();
    EXPECT_EQ(client.linkEmail(token, "a@b.c", "pw").message, "Почта привязана");
    EXPECT_EQ(client.linkTelegram(token, AccountServer::signInCode, "host").token, token);

    ConfigResponse config = client.config(token);
    EXPECT_EQ(config.serverName, "Нидерланды");
    EXPECT_FALSE(config.subscription.empty());
    SubscriptionResponse subscription = client.subscription(token);
    EXPECT_TRUE(subscription.isActive);
    EXPECT_TRUE(subscription.isEmailLinked);
    ServersResponse servers = client.servers(token);
    ASSERT_EQ(servers.servers.size(), 3u);
    EXPECT_EQ(servers.changeRetryAfter, 0);
    EXPECT_EQ(client.changeServer(token, servers.servers[1].id).message, "Сервер изменён");
    APIError tooSoon = apiError([&] { client.changeServer(token, servers.servers[2].id); });
    EXPECT_EQ(tooSoon.status, 429);
    EXPECT_GT(tooSoon.retryAfter, 200);
    EXPECT_EQ(client.config(token).serverName, "Германия");
    EXPECT_FALSE(client.applyPromo(token, AccountServer::promoCode).message.empty());
    EXPECT_EQ(client.subscription(token).daysLeft, subscription.daysLeft.value() + 30);

    NotificationsResponse all = client.notifications(token, -1);
    ASSERT_EQ(all.notifications.size(), 3u);
    EXPECT_GT(all.lastId, std::int64_t(1) << 32);
    EXPECT_EQ(client.notifications(token, all.notifications[1].id).notifications.size(), 1u);
    EXPECT_EQ(client.notifications(token, 0).notifications.size(), 3u);
    EXPECT_EQ(client.events(token, 2).events.size(), 2u);

    DevicesResponse devices = client.devices(token);
    ASSERT_GE(devices.devices.size(), 4u);
    EXPECT_EQ(devices.devices.back().label, "host");
    EXPECT_TRUE(devices.devices.back().current);
    EXPECT_EQ(devices.devices.back().platform, "linux");
    EXPECT_FALSE(client.revokeDevice(token, devices.devices[1].id).message.empty());
    EXPECT_FALSE(client.revokeOtherDevices(token).message.empty());
    EXPECT_EQ(client.devices(token).devices.size(), 1u);

    SupportMessagesResponse conversation = client.supportMessages(token, 0, 50);
    ASSERT_EQ(conversation.messages.size(), 3u);
    EXPECT_TRUE(conversation.messages[0].isFromSupport());
    EXPECT_FALSE(conversation.messages[1].isFromSupport());
    ASSERT_TRUE(conversation.messages[2].fileName);
    EXPECT_EQ(client.supportFile(token, conversation.messages[2].id).substr(0, 3), "1. ");
    client.sendSupportMessage(token, "Спасибо!");
    auto after = client.supportMessages(token, conversation.messages[2].id, 10).messages;
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0].text, "Спасибо!");
    client.supportReport(token,
                         SupportReportRequest{"1.0", "Linux 6", "connected", "Германия", "", "log", {}});
    client.logout(token);

    auto seen = server->requests();
    auto find = [&](const std::string& path) -> std::vector<RecordedRequest> {
        std::vector<RecordedRequest> matches;
        for (const auto& request : seen)
            if (request.path == path) matches.push_back(request);
        return matches;
    };
    auto auth = find("/api/auth");
    ASSERT_EQ(auth.size(), 1u);
    EXPECT_FALSE(auth[0].hasHeader("Authorization"));
    EXPECT_EQ(auth[0].body,
              R"({"code":"246810","device_label":"Рабочий ноутбук","platform":"linux","device_model":)" +
                  nlohmannQuote(APIClient::deviceModel()) + R"(,"system_version":)" +
                  nlohmannQuote(APIClient::systemVersion()) + "}");
    EXPECT_EQ(find("/api/password/reset")[0].body, R"({"token":"RESET-7","new_password":"new-pw"})");
    auto notifications = find("/api/notifications");
    ASSERT_EQ(notifications.size(), 3u);
    EXPECT_EQ(notifications[0].query, "");
    EXPECT_EQ(notifications[2].query, "since=0");
    EXPECT_EQ(find("/api/events")[0].query, "limit=2");
    EXPECT_EQ(find("/api/support/messages")[0].query, "limit=50&after_id=0");
    EXPECT_EQ(find("/api/support/report")[0].body,
              R"({"app_version":"1.0","android_version":"Linux 6","status":"connected","server":"Германия",)"
              R"("last_error":"","app_log":"log"})");
    EXPECT_EQ(find("/api/logout")[0].method, "POST");
    EXPECT_EQ(find("/api/devices/revoke-others")[0].body, "");
}

TEST_F(APIClientTest, AttachmentsAreCappedAndTheirNamesEncoded) {
    auto server = fixture.start();
    APIClient client({server->baseURL()});
    std::string token = server->token();

    std::string limit(APIClient::maxAttachmentBytes, 'a');
    std::string tooBig = limit + "b";
    APIError refused = apiError([&] { client.uploadSupportFile(token, "big.bin", tooBig); });
    EXPECT_EQ(refused.status, 413);
    EXPECT_STREQ(refused.what(), "Файл больше 20 МБ");
    EXPECT_EQ(server->requestCount(), 0u);
    client.uploadSupportFile(token, "big.bin", limit);
    ASSERT_EQ(server->requestCount(), 1u);
    EXPECT_EQ(server->requests()[0].body.size(), limit.size());

    std::string name = "отчёт a&b=c+-._~.log";
    std::string content("\x00\x01\xff payload", 11);
    client.uploadSupportFile(token, name, content);
    RecordedRequest upload = server->requests().back();
    EXPECT_EQ(upload.query, "filename=%D0%BE%D1%82%D1%87%D1%91%D1%82%20a%26b%3Dc%2B-._~.log");
    EXPECT_EQ(upload.parameter("filename"), name);
    auto messages = client.supportMessages(token, 0, 100).messages;
    ASSERT_EQ(messages.back().fileName, name);
    EXPECT_EQ(client.supportFile(token, messages.back().id), content);

    EXPECT_EQ(APIClient::encodeFileName(std::string("bad\xff", 4)), "file");
    EXPECT_EQ(APIClient::encodeFileName(""), "");
}

TEST(APIClient, ReadsTheServersExplanationAndRetryHint) {
    EXPECT_EQ(APIClient::detail(R"({"detail":"d","message":"m"})"), "d");
    EXPECT_EQ(APIClient::detail(R"({"detail":[{"msg":"x"}],"message":"m"})"), "m");
    EXPECT_EQ(APIClient::detail(R"({"detail":null,"message":5})"), "");
    EXPECT_EQ(APIClient::detail(R"(["detail"])"), "");
    EXPECT_EQ(APIClient::detail("Bad Gateway"), "");
    EXPECT_EQ(APIClient::detail(""), "");

    EXPECT_EQ(APIError::parseRetryAfter(std::nullopt), 0);
    EXPECT_EQ(APIError::parseRetryAfter(" \t30  "), 30);
    EXPECT_EQ(APIError::parseRetryAfter("+15"), 15);
    EXPECT_EQ(APIError::parseRetryAfter("9223372036854775807"), INT64_MAX);
    for (const char* unusable : {"", "  ", "0", "-5", "abc", "12s", "+", "-", "1 2", "9223372036854775808",
                                 "99999999999999999999", "Wed, 21 Oct 2015 07:28:00 GMT", "\n30"})
        EXPECT_EQ(APIError::parseRetryAfter(unusable), 0) << unusable;
}

#include "APITypes.h"

#include <gtest/gtest.h>
#include <unordered_set>

using namespace orvex;

namespace {

template <typename R> CodingError::Code failure(std::string_view json) {
    try {
        R::decode(json);
    } catch (const CodingError& error) {
        return error.code;
    }
    ADD_FAILURE() << "decoded: " << json;
    return CodingError::Code::unwritable;
}

const char* fullSubscription = R"({
  "is_active": true, "expires_at": "2025-03-28T00:00:00Z", "started_at": "2025-02-26T00:00:00Z",
  "days_left": 23, "total_days": 30, "traffic_limit_gb": 200, "traffic_used_gb": 12.5,
  "tariff_name": "Месяц", "server_name": "Германия", "can_request_trial": false,
  "is_telegram_linked": true, "is_email_linked": false, "is_email_verified": false,
  "referral_code": "FRIEND", "unknown_key": {"nested": [1, 2]}
})";

} // namespace

TEST(APITypes, DecodesResponsesWithTheirOptionalAndRequiredRules) {
    SubscriptionResponse full = SubscriptionResponse::decode(fullSubscription);
    EXPECT_TRUE(full.isActive);
    EXPECT_EQ(full.expiresAt, "2025-03-28T00:00:00Z");
    EXPECT_EQ(full.daysLeft, 23);
    EXPECT_EQ(full.trafficLimitGb, 200.0);
    EXPECT_EQ(full.trafficUsedGb, 12.5);
    EXPECT_EQ(full.tariffName, "Месяц");
    EXPECT_TRUE(full.isTelegramLinked);
    EXPECT_EQ(full.referralCode, "FRIEND");

    const char* sparse = R"({"is_active": false, "traffic_used_gb": 0, "can_request_trial": true,
        "is_telegram_linked": false, "is_email_linked": true, "is_email_verified": true,
        "expires_at": null, "days_left": null})";
    SubscriptionResponse minimal = SubscriptionResponse::decode(sparse);
    EXPECT_FALSE(minimal.expiresAt);
    EXPECT_FALSE(minimal.daysLeft);
    EXPECT_FALSE(minimal.trafficLimitGb);
    EXPECT_TRUE(minimal.canRequestTrial);

    EXPECT_EQ(failure<SubscriptionResponse>(R"({"is_active": true, "can_request_trial": false,
        "is_telegram_linked": false, "is_email_linked": false, "is_email_verified": false})"),
              CodingError::Code::missing);
    EXPECT_EQ(
        failure<SubscriptionResponse>(R"({"is_active": 1, "traffic_used_gb": 0, "can_request_trial": false,
        "is_telegram_linked": false, "is_email_linked": false, "is_email_verified": false})"),
        CodingError::Code::wrongFormat);
    // A present optional of the wrong type is an error, not silently absent.
    EXPECT_EQ(
        failure<SubscriptionResponse>(R"({"is_active": true, "traffic_used_gb": 0, "can_request_trial": false,
        "is_telegram_linked": false, "is_email_linked": false, "is_email_verified": false, "days_left": "5"})"),
        CodingError::Code::wrongFormat);
    EXPECT_EQ(failure<SubscriptionResponse>("not json"), CodingError::Code::wrongFormat);
    EXPECT_EQ(failure<SubscriptionResponse>("[]"), CodingError::Code::wrongFormat);
    EXPECT_EQ(failure<SubscriptionResponse>(""), CodingError::Code::wrongFormat);

    ServersResponse servers = ServersResponse::decode(R"({"servers": [
        {"id": 1, "name": "Нидерланды", "host": "nl.example", "port": 443},
        {"id": 9007199254740993, "name": "B", "host": "b", "port": 8443}],
        "change_retry_after": -5, "change_cooldown": 300})");
    ASSERT_EQ(servers.servers.size(), 2u);
    EXPECT_EQ(servers.servers[1].id, 9007199254740993LL); // beyond double precision
    EXPECT_EQ(servers.changeRetryAfter, -5);
    EXPECT_EQ(failure<ServersResponse>(R"({"servers": [], "change_retry_after": 0})"),
              CodingError::Code::missing);
    try {
        ServersResponse::decode(R"({"servers": [{"id": 1, "name": "A", "host": "a", "port": 1.5}],
            "change_retry_after": 0, "change_cooldown": 0})");
        ADD_FAILURE() << "a fractional port decoded";
    } catch (const CodingError& error) {
        EXPECT_EQ(error.path, "servers[0].port");
        EXPECT_STREQ(error.what(), "The data couldn’t be read because it isn’t in the correct format.");
    }
    EXPECT_EQ(failure<ServersResponse>(R"({"servers": [{"id": 9223372036854775808, "name": "A", "host": "a",
        "port": 1}], "change_retry_after": 0, "change_cooldown": 0})"),
              CodingError::Code::wrongFormat);

    NotificationsResponse notifications = NotificationsResponse::decode(R"({"notifications": [
        {"id": 5000000001, "kind": "info", "title": "T", "body": "B", "created_at": "2025-03-01T09:00:00Z"}],
        "last_id": 5000000001})");
    EXPECT_EQ(notifications.notifications[0].id, 5000000001LL);
    EXPECT_EQ(notifications.lastId, 5000000001LL);
    EXPECT_EQ(failure<NotificationsResponse>(R"({"notifications": [{"id": 1, "kind": "k", "title": "t",
        "body": null, "created_at": "c"}], "last_id": 1})"),
              CodingError::Code::missing);

    AuthResponse auth = AuthResponse::decode(R"({"token": "abc"})");
    EXPECT_EQ(auth.token, "abc");
    EXPECT_FALSE(auth.tokenType);
    EXPECT_EQ(MessageResponse::decode(R"({"message": "ок"})").message, "ок");
    ConfigResponse config = ConfigResponse::decode(R"({"subscription": "dmxlc3M=", "server_name": "A"})");
    EXPECT_FALSE(config.subscriptionFingerprint);
    EXPECT_EQ(failure<ConfigResponse>(R"({"subscription": "x"})"), CodingError::Code::missing);

    EventsResponse events = EventsResponse::decode(
        R"({"events": [{"event_type": "vpn_connected", "source": "macos", "created_at": "c"}]})");
    EXPECT_FALSE(events.events[0].payload);
    DevicesResponse devices =
        DevicesResponse::decode(R"({"devices": [{"id": 7, "label": "L", "platform": "macos",
        "current": true, "device_model": "M", "system_version": "S", "app_version": "A", "created_at": "c",
        "last_used_at": "u"}]})");
    EXPECT_TRUE(devices.devices[0].current);
    EXPECT_EQ(devices.devices[0].lastUsedAt, "u");
    EXPECT_EQ(failure<DevicesResponse>(R"({"devices": [{"id": 7}]})"), CodingError::Code::missing);
    SupportMessagesResponse messages = SupportMessagesResponse::decode(R"({"messages": [
        {"id": 1, "direction": "support", "created_at": "c"},
        {"id": 2, "direction": "Support", "text": "t", "file_kind": "image", "file_name": "a.png", "created_at": "c"}]})");
    EXPECT_TRUE(messages.messages[0].isFromSupport());
    EXPECT_FALSE(messages.messages[1].isFromSupport());
    EXPECT_EQ(messages.messages[1].fileName, "a.png");
    EXPECT_FALSE(messages.messages[0].text);

    EXPECT_NO_THROW(EmptyResponse::decode("<html>"));
}

TEST(APITypes, EncodesRequestsWithExactlyTheServersKeys) {
    EXPECT_EQ((AuthRequest{"123", std::nullopt, "linux", "M", "S"}.encode()),
              R"({"code":"123","platform":"linux","device_model":"M","system_version":"S"})");
    EXPECT_EQ(
        (LinkTelegramRequest{"1", "Мой", "linux", "M", "S"}.encode()),
        R"({"code":"1","device_label":"Мой","platform":"linux","device_model":"M","system_version":"S"})");
    EXPECT_EQ((LoginRequest{"e", "p", "L", std::nullopt, std::nullopt, std::nullopt}.encode()),
              R"({"email":"e","password":"p","device_label":"L"})");
    EXPECT_EQ((RegisterRequest{"e", "p"}.encode()), R"({"email":"e","password":"p"})");
    EXPECT_EQ((LinkEmailRequest{"e", "p"}.encode()), R"({"email":"e","password":"p"})");
    EXPECT_EQ(PasswordForgotRequest{"e"}.encode(), R"({"email":"e"})");
    EXPECT_EQ((PasswordResetRequest{"c", "n"}.encode()), R"({"token":"c","new_password":"n"})");
    EXPECT_EQ(SupportMessageCreate{"привет \"мир\"\n"}.encode(), R"({"text":"привет \"мир\"\n"})");
    EXPECT_EQ(ServerChangeRequest{8589934592LL}.encode(), R"({"server_id":8589934592})");
    EXPECT_EQ(PromoApplyRequest{"X"}.encode(), R"({"code":"X"})");
    EXPECT_EQ(DeviceRevokeRequest{-1}.encode(), R"({"device_id":-1})");
    EXPECT_EQ(
        (SupportReportRequest{"1.0", "macOS 14.4.1", "s", "srv", "e", std::nullopt, std::nullopt}.encode()),
        R"({"app_version":"1.0","android_version":"macOS 14.4.1","status":"s","server":"srv","last_error":"e"})");
    EXPECT_EQ((SupportReportRequest{"1", "o", "s", "v", "e", "a", "b"}.encode()),
              R"({"app_version":"1","android_version":"o","status":"s","server":"v","last_error":"e",)"
              R"("app_log":"a","service_log":"b"})");
    EXPECT_THROW(SupportMessageCreate{"\xff"}.encode(), CodingError);

    // Responses survive a round trip, and the list records work as set members.
    SubscriptionResponse subscription = SubscriptionResponse::decode(fullSubscription);
    EXPECT_EQ(SubscriptionResponse::decode(subscription.encode()).encode(), subscription.encode());
    ServerItem a{1, "A", "a", 443}, b{1, "A", "a", 444};
    std::unordered_set<ServerItem> set{a, b, a};
    EXPECT_EQ(set.size(), 2u);
    EXPECT_EQ(ServerItem::decode(a.encode()), a);
    EventItem withPayload{"t", "", "s", "c"}, without{"t", std::nullopt, "s", "c"};
    EXPECT_FALSE(withPayload == without);
    EXPECT_EQ((std::unordered_set<EventItem>{withPayload, without}.size()), 2u);
    DeviceItem device{1, "l", "p", true, "m", "s", "a", "c", "u"};
    EXPECT_EQ(DeviceItem::decode(device.encode()), device);
    EXPECT_EQ(std::hash<DeviceItem>{}(device), std::hash<DeviceItem>{}(DeviceItem::decode(device.encode())));
}

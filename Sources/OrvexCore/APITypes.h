#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// The JSON records exchanged with the account server. Each encodes to exactly the keys the
// server knows (absent optional fields are left out) and decodes strictly: a required key
// that is missing, null or of another type fails the whole answer, unknown keys are ignored.
// Integers are 64-bit throughout.
namespace orvex {

// A record that could not be read from (or written to) JSON. Like the other low-level
// failures it carries the platform's English wording, not a Russian text of its own.
class CodingError : public std::runtime_error {
public:
    enum class Code { missing, wrongFormat, unwritable };
    CodingError(Code code, std::string path);

    Code code;
    std::string path; // where in the document, e.g. "servers[2].port"; for logs

    static const char* describe(Code code);
};

// Requests (application to server).

struct AuthRequest {
    std::string code;
    std::optional<std::string> deviceLabel;
    std::optional<std::string> platform;
    std::optional<std::string> deviceModel;
    std::optional<std::string> systemVersion;
    std::string encode() const;
    static AuthRequest decode(std::string_view json);
};

struct LoginRequest {
    std::string email;
    std::string password;
    std::optional<std::string> deviceLabel;
    std::optional<std::string> platform;
    std::optional<std::string> deviceModel;
    std::optional<std::string> systemVersion;
    std::string encode() const;
    static LoginRequest decode(std::string_view json);
};

struct LinkTelegramRequest {
    std::string code;
    std::optional<std::string> deviceLabel;
    std::optional<std::string> platform;
    std::optional<std::string> deviceModel;
    std::optional<std::string> systemVersion;
    std::string encode() const;
    static LinkTelegramRequest decode(std::string_view json);
};

struct RegisterRequest {
    std::string email;
    std::string password;
    std::string encode() const;
    static RegisterRequest decode(std::string_view json);
};

struct LinkEmailRequest {
    std::string email;
    std::string password;
    std::string encode() const;
    static LinkEmailRequest decode(std::string_view json);
};

struct PasswordForgotRequest {
    std::string email;
    std::string encode() const;
    static PasswordForgotRequest decode(std::string_view json);
};

struct PasswordResetRequest {
    std::string token; // the reset code the user received by e-mail
    std::string newPassword;
    std::string encode() const;
    static PasswordResetRequest decode(std::string_view json);
};

struct SupportMessageCreate {
    std::string text;
    std::string encode() const;
    static SupportMessageCreate decode(std::string_view json);
};

struct ServerChangeRequest {
    std::int64_t serverId = 0;
    std::string encode() const;
    static ServerChangeRequest decode(std::string_view json);
};

struct PromoApplyRequest {
    std::string code;
    std::string encode() const;
    static PromoApplyRequest decode(std::string_view json);
};

struct DeviceRevokeRequest {
    std::int64_t deviceId = 0;
    std::string encode() const;
    static DeviceRevokeRequest decode(std::string_view json);
};

struct SupportReportRequest {
    std::string appVersion;
    std::string osVersion; // travels under "android_version", a name the server keeps
    std::string status;
    std::string server;
    std::string lastError;
    std::optional<std::string> appLog;
    std::optional<std::string> serviceLog;
    std::string encode() const;
    static SupportReportRequest decode(std::string_view json);
};

// Responses (server to application).

struct AuthResponse {
    std::string token;
    std::optional<std::string> tokenType;
    std::string encode() const;
    static AuthResponse decode(std::string_view json);
};

struct MessageResponse {
    std::string message;
    std::string encode() const;
    static MessageResponse decode(std::string_view json);
};

struct ConfigResponse {
    std::string subscription; // encoded payload that carries the connection link
    std::string serverName;
    std::optional<std::string> subscriptionFingerprint;
    std::string encode() const;
    static ConfigResponse decode(std::string_view json);
};

struct SubscriptionResponse {
    bool isActive = false;
    std::optional<std::string> expiresAt;
    std::optional<std::string> startedAt;
    std::optional<std::int64_t> daysLeft;
    std::optional<std::int64_t> totalDays;
    std::optional<double> trafficLimitGb;
    double trafficUsedGb = 0;
    std::optional<std::string> tariffName;
    std::optional<std::string> serverName;
    bool canRequestTrial = false;
    bool isTelegramLinked = false;
    bool isEmailLinked = false;
    bool isEmailVerified = false;
    std::optional<std::string> referralCode;
    std::string encode() const;
    static SubscriptionResponse decode(std::string_view json);
};

struct ServerItem {
    std::int64_t id = 0;
    std::string name;
    std::string host;
    std::int64_t port = 0;
    bool operator==(const ServerItem&) const = default;
    std::string encode() const;
    static ServerItem decode(std::string_view json);
};

struct ServersResponse {
    std::vector<ServerItem> servers;
    std::int64_t changeRetryAfter = 0; // seconds until a change is allowed; <= 0 means now
    std::int64_t changeCooldown = 0;   // the server's pause between changes, seconds
    std::string encode() const;
    static ServersResponse decode(std::string_view json);
};

struct NotificationItem {
    std::int64_t id = 0;
    std::string kind;
    std::string title;
    std::string body;
    std::string createdAt;
    std::string encode() const;
    static NotificationItem decode(std::string_view json);
};

struct NotificationsResponse {
    std::vector<NotificationItem> notifications;
    std::int64_t lastId = 0; // queue position to send back as `since` next time
    std::string encode() const;
    static NotificationsResponse decode(std::string_view json);
};

struct EventItem {
    std::string eventType;
    std::optional<std::string> payload;
    std::string source;
    std::string createdAt;
    bool operator==(const EventItem&) const = default;
    std::string encode() const;
    static EventItem decode(std::string_view json);
};

struct EventsResponse {
    std::vector<EventItem> events;
    std::string encode() const;
    static EventsResponse decode(std::string_view json);
};

struct DeviceItem {
    std::int64_t id = 0;
    std::string label;
    std::string platform;
    bool current = false; // the device making the request
    std::string deviceModel;
    std::string systemVersion;
    std::string appVersion;
    std::string createdAt;
    std::string lastUsedAt;
    bool operator==(const DeviceItem&) const = default;
    std::string encode() const;
    static DeviceItem decode(std::string_view json);
};

struct DevicesResponse {
    std::vector<DeviceItem> devices;
    std::string encode() const;
    static DevicesResponse decode(std::string_view json);
};

struct SupportMessageItem {
    std::int64_t id = 0;
    std::string direction;
    std::optional<std::string> text;
    std::optional<std::string> fileKind;
    std::optional<std::string> fileName;
    std::string createdAt;
    bool isFromSupport() const { return direction == "support"; }
    std::string encode() const;
    static SupportMessageItem decode(std::string_view json);
};

struct SupportMessagesResponse {
    std::vector<SupportMessageItem> messages;
    std::string encode() const;
    static SupportMessagesResponse decode(std::string_view json);
};

// The answer of operations whose body does not matter: any 2xx body, even an empty or
// non-JSON one, decodes to it.
struct EmptyResponse {
    std::string encode() const { return "{}"; }
    static EmptyResponse decode(std::string_view) { return {}; }
};

} // namespace orvex

// The screens key lists by these records, so they hash by every field.
template <> struct std::hash<orvex::ServerItem> {
    std::size_t operator()(const orvex::ServerItem& item) const noexcept;
};
template <> struct std::hash<orvex::EventItem> {
    std::size_t operator()(const orvex::EventItem& item) const noexcept;
};
template <> struct std::hash<orvex::DeviceItem> {
    std::size_t operator()(const orvex::DeviceItem& item) const noexcept;
};

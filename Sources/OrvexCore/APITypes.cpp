#include "APITypes.h"

#include <functional>
#include <limits>
#include <nlohmann/json.hpp>

namespace orvex {
namespace {

using json = nlohmann::json;
using ordered_json = nlohmann::ordered_json;

[[noreturn]] void fail(CodingError::Code code, const std::string& path) { throw CodingError(code, path); }

std::string member(const std::string& path, const char* key) { return path.empty() ? key : path + "." + key; }

// Each record lists its fields once, in key order; the same list drives reading and writing.
template <typename V, typename R>
requires std::is_same_v<std::remove_const_t<R>, AuthRequest> ||
    std::is_same_v<std::remove_const_t<R>, LinkTelegramRequest>
void fields(V& v, R& r) {
    v("code", r.code);
    v("device_label", r.deviceLabel);
    v("platform", r.platform);
    v("device_model", r.deviceModel);
    v("system_version", r.systemVersion);
}
template <typename V, typename R>
requires std::is_same_v<std::remove_const_t<R>, LoginRequest>
void fields(V& v, R& r) {
    v("email", r.email);
    v("password", r.password);
    v("device_label", r.deviceLabel);
    v("platform", r.platform);
    v("device_model", r.deviceModel);
    v("system_version", r.systemVersion);
}
template <typename V, typename R>
requires std::is_same_v<std::remove_const_t<R>, RegisterRequest> ||
    std::is_same_v<std::remove_const_t<R>, LinkEmailRequest>
void fields(V& v, R& r) {
    v("email", r.email);
    v("password", r.password);
}
template <typename V, typename R>
requires std::is_same_v<std::remove_const_t<R>, PasswordForgotRequest>
void fields(V& v, R& r) { v("email", r.email); }
template <typename V, typename R>
requires std::is_same_v<std::remove_const_t<R>, PasswordResetRequest>
void fields(V& v, R& r) {
    v("token", r.token);
    v("new_password", r.newPassword);
}
template <typename V, typename R>
requires std::is_same_v<std::remove_const_t<R>, SupportMessageCreate>
void fields(V& v, R& r) { v("text", r.text); }
template <typename V, typename R>
requires std::is_same_v<std::remove_const_t<R>, ServerChangeRequest>
void fields(V& v, R& r) { v("server_id", r.serverId); }
template <typename V, typename R>
requires std::is_same_v<std::remove_const_t<R>, PromoApplyRequest>
void fields(V& v, R& r) { v("code", r.code); }
template <typename V, typename R>
requires std::is_same_v<std::remove_const_t<R>, DeviceRevokeRequest>
void fields(V& v, R& r) { v("device_id", r.deviceId); }
template <typename V, typename R>
requires std::is_same_v<std::remove_const_t<R>, SupportReportRequest>
void fields(V& v, R& r) {
    v("app_version", r.appVersion);
    v("android_version", r.osVersion);
    v("status", r.status);
    v("server", r.server);
    v("last_error", r.lastError);
    v("app_log", r.appLog);
    v("service_log", r.serviceLog);
}
template <typename V, typename R>
requires std::is_same_v<std::remove_const_t<R>, AuthResponse>
void fields(V& v, R& r) {
    v("token", r.token);
    v("token_type", r.tokenType);
}
template <typename V, typename R>
requires std::is_same_v<std::remove_const_t<R>, MessageResponse>
void fields(V& v, R& r) { v("message", r.message); }
template <typename V, typename R>
requires std::is_same_v<std::remove_const_t<R>, ConfigResponse>
void fields(V& v, R& r) {
    v("subscription", r.subscription);
    v("server_name", r.serverName);
    v("subscription_fingerprint", r.subscriptionFingerprint);
}
template <typename V, typename R>
requires std::is_same_v<std::remove_const_t<R>, SubscriptionResponse>
void fields(V& v, R& r) {
    v("is_active", r.isActive);
    v("expires_at", r.expiresAt);
    v("started_at", r.startedAt);
    v("days_left", r.daysLeft);
    v("total_days", r.totalDays);
    v("traffic_limit_gb", r.trafficLimitGb);
    v("traffic_used_gb", r.trafficUsedGb);
    v("tariff_name", r.tariffName);
    v("server_name", r.serverName);
    v("can_request_trial", r.canRequestTrial);
    v("is_telegram_linked", r.isTelegramLinked);
    v("is_email_linked", r.isEmailLinked);
    v("is_email_verified", r.isEmailVerified);
    v("referral_code", r.referralCode);
}
template <typename V, typename R>
requires std::is_same_v<std::remove_const_t<R>, ServerItem>
void fields(V& v, R& r) {
    v("id", r.id);
    v("name", r.name);
    v("host", r.host);
    v("port", r.port);
}
template <typename V, typename R>
requires std::is_same_v<std::remove_const_t<R>, ServersResponse>
void fields(V& v, R& r) {
    v("servers", r.servers);
    v("change_retry_after", r.changeRetryAfter);
    v("change_cooldown", r.changeCooldown);
}
template <typename V, typename R>
requires std::is_same_v<std::remove_const_t<R>, NotificationItem>
void fields(V& v, R& r) {
    v("id", r.id);
    v("kind", r.kind);
    v("title", r.title);
    v("body", r.body);
    v("created_at", r.createdAt);
}
template <typename V, typename R>
requires std::is_same_v<std::remove_const_t<R>, NotificationsResponse>
void fields(V& v, R& r) {
    v("notifications", r.notifications);
    v("last_id", r.lastId);
}
template <typename V, typename R>
requires std::is_same_v<std::remove_const_t<R>, EventItem>
void fields(V& v, R& r) {
    v("event_type", r.eventType);
    v("payload", r.payload);
    v("source", r.source);
    v("created_at", r.createdAt);
}
template <typename V, typename R>
requires std::is_same_v<std::remove_const_t<R>, EventsResponse>
void fields(V& v, R& r) { v("events", r.events); }
template <typename V, typename R>
requires std::is_same_v<std::remove_const_t<R>, DeviceItem>
void fields(V& v, R& r) {
    v("id", r.id);
    v("label", r.label);
    v("platform", r.platform);
    v("current", r.current);
    v("device_model", r.deviceModel);
    v("system_version", r.systemVersion);
    v("app_version", r.appVersion);
    v("created_at", r.createdAt);
    v("last_used_at", r.lastUsedAt);
}
template <typename V, typename R>
requires std::is_same_v<std::remove_const_t<R>, DevicesResponse>
void fields(V& v, R& r) { v("devices", r.devices); }
template <typename V, typename R>
requires std::is_same_v<std::remove_const_t<R>, SupportMessageItem>
void fields(V& v, R& r) {
    v("id", r.id);
    v("direction", r.direction);
    v("text", r.text);
    v("file_kind", r.fileKind);
    v("file_name", r.fileName);
    v("created_at", r.createdAt);
}
template <typename V, typename R>
requires std::is_same_v<std::remove_const_t<R>, SupportMessagesResponse>
void fields(V& v, R& r) { v("messages", r.messages); }

template <typename R> void readRecord(const json& value, R& out, const std::string& path);

void readValue(const json& value, std::string& out, const std::string& path) {
    if (!value.is_string()) fail(CodingError::Code::wrongFormat, path);
    out = value.get<std::string>();
}
void readValue(const json& value, std::int64_t& out, const std::string& path) {
    // Whole numbers only; a fraction or a value beyond 64 signed bits is not an id.
    if (value.is_number_unsigned()) {
        if (value.get<std::uint64_t>() > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            fail(CodingError::Code::wrongFormat, path);
    } else if (!value.is_number_integer()) {
        fail(CodingError::Code::wrongFormat, path);
    }
    out = value.get<std::int64_t>();
}
void readValue(const json& value, double& out, const std::string& path) {
    if (!value.is_number()) fail(CodingError::Code::wrongFormat, path);
    out = value.get<double>();
}
void readValue(const json& value, bool& out, const std::string& path) {
    if (!value.is_boolean()) fail(CodingError::Code::wrongFormat, path);
    out = value.get<bool>();
}
template <typename R> void readValue(const json& value, std::vector<R>& out, const std::string& path) {
    if (!value.is_array()) fail(CodingError::Code::wrongFormat, path);
    out.clear();
    out.reserve(value.size());
    for (size_t index = 0; index < value.size(); ++index) {
        R item;
        readRecord(value[index], item, path + "[" + std::to_string(index) + "]");
        out.push_back(std::move(item));
    }
}

class Reader {
public:
    Reader(const json& object, const std::string& path) : object_(object), path_(path) {}

    template <typename T> void operator()(const char* key, T& out) {
        auto found = object_.find(key);
        if (found == object_.end() || found->is_null()) fail(CodingError::Code::missing, member(path_, key));
        readValue(*found, out, member(path_, key));
    }
    template <typename T> void operator()(const char* key, std::optional<T>& out) {
        auto found = object_.find(key);
        if (found == object_.end() || found->is_null()) {
            out.reset();
            return;
        }
        T value{};
        readValue(*found, value, member(path_, key));
        out = std::move(value);
    }

private:
    const json& object_;
    const std::string& path_;
};

template <typename R> void readRecord(const json& value, R& out, const std::string& path) {
    if (!value.is_object()) fail(CodingError::Code::wrongFormat, path);
    Reader reader(value, path);
    fields(reader, out);
}

template <typename R> ordered_json writeRecord(const R& record);

template <typename T> ordered_json writeValue(const T& value) { return value; }
template <typename R> ordered_json writeValue(const std::vector<R>& list) {
    ordered_json array = ordered_json::array();
    for (const R& item : list) array.push_back(writeRecord(item));
    return array;
}

class Writer {
public:
    template <typename T> void operator()(const char* key, const T& value) {
        object[key] = writeValue(value);
    }
    template <typename T> void operator()(const char* key, const std::optional<T>& value) {
        if (value) object[key] = writeValue(*value);
    }
    ordered_json object = ordered_json::object();
};

template <typename R> ordered_json writeRecord(const R& record) {
    Writer writer;
    fields(writer, record);
    return std::move(writer.object);
}

template <typename R> R decodeRecord(std::string_view bytes) {
    json document = json::parse(bytes, nullptr, false);
    if (document.is_discarded()) fail(CodingError::Code::wrongFormat, "");
    R record{};
    readRecord(document, record, "");
    return record;
}

template <typename R> std::string encodeRecord(const R& record) {
    try {
        return writeRecord(record).dump();
    } catch (const nlohmann::json::exception&) {
        // Text that is not UTF-8 cannot travel as JSON.
        throw CodingError(CodingError::Code::unwritable, "");
    }
}

std::size_t combine(std::size_t seed, std::size_t value) {
    return seed ^ (value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2));
}

} // namespace

CodingError::CodingError(Code code, std::string path)
    : std::runtime_error(describe(code)), code(code), path(std::move(path)) {}

const char* CodingError::describe(Code code) {
    switch (code) {
    case Code::missing:
        return "The data couldn’t be read because it is missing.";
    case Code::wrongFormat:
        return "The data couldn’t be read because it isn’t in the correct format.";
    case Code::unwritable:
        break;
    }
    return "The data couldn’t be written because it isn’t in the correct format.";
}

// clang-format off
std::string AuthRequest::encode() const { return encodeRecord(*this); }
AuthRequest AuthRequest::decode(std::string_view json) { return decodeRecord<AuthRequest>(json); }
std::string LoginRequest::encode() const { return encodeRecord(*this); }
LoginRequest LoginRequest::decode(std::string_view json) { return decodeRecord<LoginRequest>(json); }
std::string LinkTelegramRequest::encode() const { return encodeRecord(*this); }
LinkTelegramRequest LinkTelegramRequest::decode(std::string_view json) { return decodeRecord<LinkTelegramRequest>(json); }
std::string RegisterRequest::encode() const { return encodeRecord(*this); }
RegisterRequest RegisterRequest::decode(std::string_view json) { return decodeRecord<RegisterRequest>(json); }
std::string LinkEmailRequest::encode() const { return encodeRecord(*this); }
LinkEmailRequest LinkEmailRequest::decode(std::string_view json) { return decodeRecord<LinkEmailRequest>(json); }
std::string PasswordForgotRequest::encode() const { return encodeRecord(*this); }
PasswordForgotRequest PasswordForgotRequest::decode(std::string_view json) { return decodeRecord<PasswordForgotRequest>(json); }
std::string PasswordResetRequest::encode() const { return encodeRecord(*this); }
PasswordResetRequest PasswordResetRequest::decode(std::string_view json) { return decodeRecord<PasswordResetRequest>(json); }
std::string SupportMessageCreate::encode() const { return encodeRecord(*this); }
SupportMessageCreate SupportMessageCreate::decode(std::string_view json) { return decodeRecord<SupportMessageCreate>(json); }
std::string ServerChangeRequest::encode() const { return encodeRecord(*this); }
ServerChangeRequest ServerChangeRequest::decode(std::string_view json) { return decodeRecord<ServerChangeRequest>(json); }
std::string PromoApplyRequest::encode() const { return encodeRecord(*this); }
PromoApplyRequest PromoApplyRequest::decode(std::string_view json) { return decodeRecord<PromoApplyRequest>(json); }
std::string DeviceRevokeRequest::encode() const { return encodeRecord(*this); }
DeviceRevokeRequest DeviceRevokeRequest::decode(std::string_view json) { return decodeRecord<DeviceRevokeRequest>(json); }
std::string SupportReportRequest::encode() const { return encodeRecord(*this); }
SupportReportRequest SupportReportRequest::decode(std::string_view json) { return decodeRecord<SupportReportRequest>(json); }
std::string AuthResponse::encode() const { return encodeRecord(*this); }
AuthResponse AuthResponse::decode(std::string_view json) { return decodeRecord<AuthResponse>(json); }
std::string MessageResponse::encode() const { return encodeRecord(*this); }
MessageResponse MessageResponse::decode(std::string_view json) { return decodeRecord<MessageResponse>(json); }
std::string ConfigResponse::encode() const { return encodeRecord(*this); }
ConfigResponse ConfigResponse::decode(std::string_view json) { return decodeRecord<ConfigResponse>(json); }
std::string SubscriptionResponse::encode() const { return encodeRecord(*this); }
SubscriptionResponse SubscriptionResponse::decode(std::string_view json) { return decodeRecord<SubscriptionResponse>(json); }
std::string ServerItem::encode() const { return encodeRecord(*this); }
ServerItem ServerItem::decode(std::string_view json) { return decodeRecord<ServerItem>(json); }
std::string ServersResponse::encode() const { return encodeRecord(*this); }
ServersResponse ServersResponse::decode(std::string_view json) { return decodeRecord<ServersResponse>(json); }
std::string NotificationItem::encode() const { return encodeRecord(*this); }
NotificationItem NotificationItem::decode(std::string_view json) { return decodeRecord<NotificationItem>(json); }
std::string NotificationsResponse::encode() const { return encodeRecord(*this); }
NotificationsResponse NotificationsResponse::decode(std::string_view json) { return decodeRecord<NotificationsResponse>(json); }
std::string EventItem::encode() const { return encodeRecord(*this); }
EventItem EventItem::decode(std::string_view json) { return decodeRecord<EventItem>(json); }
std::string EventsResponse::encode() const { return encodeRecord(*this); }
EventsResponse EventsResponse::decode(std::string_view json) { return decodeRecord<EventsResponse>(json); }
std::string DeviceItem::encode() const { return encodeRecord(*this); }
DeviceItem DeviceItem::decode(std::string_view json) { return decodeRecord<DeviceItem>(json); }
std::string DevicesResponse::encode() const { return encodeRecord(*this); }
DevicesResponse DevicesResponse::decode(std::string_view json) { return decodeRecord<DevicesResponse>(json); }
std::string SupportMessageItem::encode() const { return encodeRecord(*this); }
SupportMessageItem SupportMessageItem::decode(std::string_view json) { return decodeRecord<SupportMessageItem>(json); }
std::string SupportMessagesResponse::encode() const { return encodeRecord(*this); }
SupportMessagesResponse SupportMessagesResponse::decode(std::string_view json) { return decodeRecord<SupportMessagesResponse>(json); }
// clang-format on

} // namespace orvex

using orvex::combine;

std::size_t std::hash<orvex::ServerItem>::operator()(const orvex::ServerItem& item) const noexcept {
    std::size_t seed = std::hash<std::int64_t>{}(item.id);
    seed = combine(seed, std::hash<std::string>{}(item.name));
    seed = combine(seed, std::hash<std::string>{}(item.host));
    return combine(seed, std::hash<std::int64_t>{}(item.port));
}

std::size_t std::hash<orvex::EventItem>::operator()(const orvex::EventItem& item) const noexcept {
    std::size_t seed = std::hash<std::string>{}(item.eventType);
    seed = combine(seed, item.payload ? std::hash<std::string>{}(*item.payload) + 1 : 0);
    seed = combine(seed, std::hash<std::string>{}(item.source));
    return combine(seed, std::hash<std::string>{}(item.createdAt));
}

std::size_t std::hash<orvex::DeviceItem>::operator()(const orvex::DeviceItem& item) const noexcept {
    std::size_t seed = std::hash<std::int64_t>{}(item.id);
    for (const std::string* text : {&item.label, &item.platform, &item.deviceModel, &item.systemVersion,
                                    &item.appVersion, &item.createdAt, &item.lastUsedAt})
        seed = combine(seed, std::hash<std::string>{}(*text));
    return combine(seed, item.current ? 1 : 0);
}

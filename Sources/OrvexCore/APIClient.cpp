#include "APIClient.h"

#include <exception>
#include <mutex>
#include <nlohmann/json.hpp>

#include "APIError.h"
#include "Config.h"
#include "Http.h"
#include "SystemInfo.h"
#include "Text.h"

namespace orvex {
namespace {

std::mutex settingsLock;
std::string appVersionSetting = "0.0.0-dev";
std::string devicePlatformSetting = SystemInfo::platform();

} // namespace

APIClient::APIClient(std::vector<std::string> baseURLs) : baseURLs_(std::move(baseURLs)) {}

std::vector<std::string> APIClient::defaultBaseURLs() { return Config::apiBases(); }

std::string APIClient::appVersion() {
    std::lock_guard lock(settingsLock);
    return appVersionSetting;
}

void APIClient::setAppVersion(std::string version) {
    std::lock_guard lock(settingsLock);
    appVersionSetting = std::move(version);
}

std::string APIClient::devicePlatform() {
    std::lock_guard lock(settingsLock);
    return devicePlatformSetting;
}

void APIClient::setDevicePlatform(std::string platform) {
    std::lock_guard lock(settingsLock);
    devicePlatformSetting = std::move(platform);
}

const std::string& APIClient::deviceModel() {
    static const std::string model = SystemInfo::model();
    return model;
}

const std::string& APIClient::systemVersion() {
    static const std::string version = SystemInfo::version();
    return version;
}

std::string APIClient::perform(const std::string& method, const std::string& path,
                               const std::optional<std::string>& bearer,
                               const std::optional<std::string>& body,
                               const std::optional<std::string>& contentType) const {
    std::exception_ptr lastError;
    Http::Headers headers;
    if (body || contentType) headers.emplace_back("Content-Type", contentType.value_or("application/json"));
    if (bearer && !bearer->empty()) headers.emplace_back("Authorization", "Bearer " + *bearer);
    headers.emplace_back("X-App-Version", appVersion());
    headers.emplace_back("X-Device-Platform", devicePlatform());
    headers.emplace_back("X-Device-Model", deviceModel());
    headers.emplace_back("X-Device-System", systemVersion());

    for (size_t index = 0; index < baseURLs_.size(); ++index) {
        Http::Request request;
        request.url = baseURLs_[index] + path;
        if (!Http::isValidURL(request.url)) continue;
        request.method = method;
        request.headers = headers;
        request.body = body;
        // The limit is on silence, not on the whole exchange, so a 20 MB attachment on a slow
        // line still goes through while a server that stops answering is left after it.
        request.timeout = 0;
        request.connectTimeout = timeoutFor(index);
        request.idleTimeout = timeoutFor(index);
        Http::Response response;
        try {
            response = Http::perform(request);
        } catch (const Http::TransportError&) {
            lastError = std::current_exception();
            continue;
        }
        if (response.status >= 200 && response.status <= 299) return std::move(response.body);
        throw APIError(static_cast<int>(response.status), detail(response.body),
                       APIError::parseRetryAfter(response.header("Retry-After")));
    }
    if (lastError) std::rethrow_exception(lastError);
    throw APIError(0, "нет связи с сервером");
}

std::string APIClient::detail(std::string_view body) {
    nlohmann::json document = nlohmann::json::parse(body, nullptr, false);
    if (!document.is_object()) return {};
    for (const char* key : {"detail", "message"}) {
        auto found = document.find(key);
        if (found != document.end() && found->is_string()) return found->get<std::string>();
    }
    return {};
}

std::string APIClient::encodeFileName(std::string_view name) {
    if (!Text::isValidUTF8(name)) return "file";
    static const char digits[] = "0123456789ABCDEF";
    std::string encoded;
    for (unsigned char c : name) {
        bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                    c == '.' || c == '_' || c == '~';
        if (keep) {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += digits[c >> 4];
            encoded += digits[c & 0x0F];
        }
    }
    return encoded;
}

AuthResponse APIClient::auth(const std::string& code, const std::string& deviceLabel) const {
    AuthRequest request{code, deviceLabel, devicePlatform(), deviceModel(), systemVersion()};
    return send<AuthResponse>("POST", "api/auth", std::nullopt, request);
}

MessageResponse APIClient::registerAccount(const std::string& email, const std::string& password) const {
    return send<MessageResponse>("POST", "api/register", std::nullopt, RegisterRequest{email, password});
}

AuthResponse APIClient::login(const std::string& email, const std::string& password,
                              const std::string& deviceLabel) const {
    LoginRequest request{email, password, deviceLabel, devicePlatform(), deviceModel(), systemVersion()};
    return send<AuthResponse>("POST", "api/login", std::nullopt, request);
}

MessageResponse APIClient::forgotPassword(const std::string& email) const {
    return send<MessageResponse>("POST", "api/password/forgot", std::nullopt, PasswordForgotRequest{email});
}

MessageResponse APIClient::resetPassword(const std::string& code, const std::string& newPassword) const {
    return send<MessageResponse>("POST", "api/password/reset", std::nullopt,
                                 PasswordResetRequest{code, newPassword});
}

MessageResponse APIClient::linkEmail(const std::string& bearer, const std::string& email,
                                     const std::string& password) const {
    return send<MessageResponse>("POST", "api/link/email", bearer, LinkEmailRequest{email, password});
}

void APIClient::logout(const std::string& bearer) const {
    send<EmptyResponse>("POST", "api/logout", bearer, std::nullopt);
}

AuthResponse APIClient::linkTelegram(const std::string& bearer, const std::string& code,
                                     const std::string& deviceLabel) const {
    LinkTelegramRequest request{code, deviceLabel, devicePlatform(), deviceModel(), systemVersion()};
    return send<AuthResponse>("POST", "api/link/telegram", bearer, request);
}

ConfigResponse APIClient::config(const std::string& bearer) const {
    return send<ConfigResponse>("GET", "api/config", bearer, std::nullopt);
}

SubscriptionResponse APIClient::subscription(const std::string& bearer) const {
    return send<SubscriptionResponse>("GET", "api/subscription", bearer, std::nullopt);
}

ServersResponse APIClient::servers(const std::string& bearer) const {
    return send<ServersResponse>("GET", "api/servers", bearer, std::nullopt);
}

MessageResponse APIClient::changeServer(const std::string& bearer, std::int64_t serverId) const {
    return send<MessageResponse>("POST", "api/server/change", bearer, ServerChangeRequest{serverId});
}

MessageResponse APIClient::applyPromo(const std::string& bearer, const std::string& code) const {
    return send<MessageResponse>("POST", "api/promo/apply", bearer, PromoApplyRequest{code});
}

NotificationsResponse APIClient::notifications(const std::string& bearer, std::int64_t since) const {
    std::string path = since >= 0 ? "api/notifications?since=" + std::to_string(since) : "api/notifications";
    return send<NotificationsResponse>("GET", path, bearer, std::nullopt);
}

EventsResponse APIClient::events(const std::string& bearer, std::int64_t limit) const {
    return send<EventsResponse>("GET", "api/events?limit=" + std::to_string(limit), bearer, std::nullopt);
}

DevicesResponse APIClient::devices(const std::string& bearer) const {
    return send<DevicesResponse>("GET", "api/devices", bearer, std::nullopt);
}

MessageResponse APIClient::revokeDevice(const std::string& bearer, std::int64_t deviceId) const {
    return send<MessageResponse>("POST", "api/devices/revoke", bearer, DeviceRevokeRequest{deviceId});
}

MessageResponse APIClient::revokeOtherDevices(const std::string& bearer) const {
    return send<MessageResponse>("POST", "api/devices/revoke-others", bearer, std::nullopt);
}

SupportMessagesResponse APIClient::supportMessages(const std::string& bearer, std::int64_t afterId,
                                                   std::int64_t limit) const {
    std::string path =
        "api/support/messages?limit=" + std::to_string(limit) + "&after_id=" + std::to_string(afterId);
    return send<SupportMessagesResponse>("GET", path, bearer, std::nullopt);
}

void APIClient::sendSupportMessage(const std::string& bearer, const std::string& text) const {
    send<EmptyResponse>("POST", "api/support/messages", bearer, SupportMessageCreate{text});
}

std::string APIClient::supportFile(const std::string& bearer, std::int64_t messageId) const {
    return perform("GET", "api/support/files/" + std::to_string(messageId), bearer, std::nullopt,
                   std::nullopt);
}

void APIClient::checkAttachmentSize(std::uint64_t bytes) {
    if (bytes > static_cast<std::uint64_t>(maxAttachmentBytes)) throw APIError(413, "Файл больше 20 МБ");
}

void APIClient::uploadSupportFile(const std::string& bearer, const std::string& filename,
                                  const std::string& data) const {
    checkAttachmentSize(data.size());
    perform("POST", "api/support/messages/file?filename=" + encodeFileName(filename), bearer, data,
            "application/octet-stream");
}

void APIClient::supportReport(const std::string& bearer, const SupportReportRequest& report) const {
    send<EmptyResponse>("POST", "api/support/report", bearer, report);
}

} // namespace orvex

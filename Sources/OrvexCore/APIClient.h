#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "APITypes.h"

namespace orvex {

// A request body of any record type, encoded exactly as the record itself encodes.
class AnyEncodable {
public:
    template <typename R> AnyEncodable(const R& record) : encode_([record] { return record.encode(); }) {}
    std::string encode() const { return encode_(); }

private:
    std::function<std::string()> encode_;
};

// The application's client of the provider's account server. Each request tries the base
// addresses in order; only a failure to get any HTTP answer moves on to the next one, and the
// next request starts at the first again. Every call blocks: make them from worker threads.
class APIClient {
public:
    explicit APIClient(std::vector<std::string> baseURLs = defaultBaseURLs());

    static std::vector<std::string> defaultBaseURLs();

    // How long a request to the base at `index` may wait for its connection or go without any
    // bytes moving: two quick tries, then a patient one.
    static double timeoutFor(size_t index) { return index < 2 ? 6.0 : 25.0; }

    static std::string appVersion();
    static void setAppVersion(std::string version);
    static std::string devicePlatform();
    static void setDevicePlatform(std::string platform);
    static const std::string& deviceModel();
    static const std::string& systemVersion();
    static constexpr std::int64_t maxAttachmentBytes = 20 * 1024 * 1024;
    // Throws the APIError an attachment of `bytes` above the limit gets, so a caller can
    // refuse a file by its size before reading it.
    static void checkAttachmentSize(std::uint64_t bytes);

    template <typename T>
    T send(const std::string& method, const std::string& path, const std::optional<std::string>& bearer,
           const std::optional<AnyEncodable>& body) const {
        std::optional<std::string> encoded;
        std::optional<std::string> contentType;
        if (body) {
            encoded = body->encode();
            contentType = "application/json";
        }
        return T::decode(perform(method, path, bearer, encoded, contentType));
    }

    std::string perform(const std::string& method, const std::string& path,
                        const std::optional<std::string>& bearer, const std::optional<std::string>& body,
                        const std::optional<std::string>& contentType) const;

    // The server's explanation from an error body: "detail", else "message", else empty.
    static std::string detail(std::string_view body);

    // The file name as a query value: ASCII letters, digits and "-._~" stay, every other
    // UTF-8 byte becomes %XX; a name that is not UTF-8 is sent as "file".
    static std::string encodeFileName(std::string_view name);

    AuthResponse auth(const std::string& code, const std::string& deviceLabel) const;
    MessageResponse registerAccount(const std::string& email, const std::string& password) const;
    AuthResponse login(const std::string& email, const std::string& password,
                       const std::string& deviceLabel) const;
    MessageResponse forgotPassword(const std::string& email) const;
    MessageResponse resetPassword(const std::string& code, const std::string& newPassword) const;
    MessageResponse linkEmail(const std::string& bearer, const std::string& email,
                              const std::string& password) const;
    void logout(const std::string& bearer) const;
    AuthResponse linkTelegram(const std::string& bearer, const std::string& code,
                              const std::string& deviceLabel) const;
    ConfigResponse config(const std::string& bearer) const;
    SubscriptionResponse subscription(const std::string& bearer) const;
    ServersResponse servers(const std::string& bearer) const;
    MessageResponse changeServer(const std::string& bearer, std::int64_t serverId) const;
    MessageResponse applyPromo(const std::string& bearer, const std::string& code) const;
    NotificationsResponse notifications(const std::string& bearer, std::int64_t since) const;
    EventsResponse events(const std::string& bearer, std::int64_t limit) const;
    DevicesResponse devices(const std::string& bearer) const;
    MessageResponse revokeDevice(const std::string& bearer, std::int64_t deviceId) const;
    MessageResponse revokeOtherDevices(const std::string& bearer) const;
    SupportMessagesResponse supportMessages(const std::string& bearer, std::int64_t afterId,
                                            std::int64_t limit) const;
    void sendSupportMessage(const std::string& bearer, const std::string& text) const;
    std::string supportFile(const std::string& bearer, std::int64_t messageId) const;
    void uploadSupportFile(const std::string& bearer, const std::string& filename,
                           const std::string& data) const;
    void supportReport(const std::string& bearer, const SupportReportRequest& report) const;

private:
    std::vector<std::string> baseURLs_;
};

} // namespace orvex

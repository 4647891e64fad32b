#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The one HTTP(S) client of ORVEX, a thin layer over libcurl. Every request gets a fresh
// handle: no cookies, cache, stored credentials or connection reuse leak between requests,
// and nothing waits for connectivity. The CA file from Config::caFile() is trusted in
// addition to the system's.
namespace orvex::Http {

// A failure to obtain an HTTP answer. The description reads like the platform's URL-loading
// errors ("The request timed out.") because the keyword rules that turn errors into the
// user's line look for those words; libcurl's own wording is kept apart for logs.
class TransportError : public std::runtime_error {
public:
    enum class Code {
        timedOut,
        cannotConnectToHost,
        notConnectedToInternet,
        cannotFindHost,
        secureConnectionFailed,
        serverCertificateUntrusted,
        networkConnectionLost,
        badURL,
        unsupportedURL,
        tooManyRedirects,
        badServerResponse,
        dataLengthExceedsMaximum,
        cancelled,
        unknown,
    };

    TransportError(Code code, std::string libraryDetail);

    Code code;
    std::string libraryDetail;

    static const char* describe(Code code);
};

using Headers = std::vector<std::pair<std::string, std::string>>;

struct Request {
    std::string method = "GET";
    std::string url;
    Headers headers; // sent in this order after libcurl's Host line
    std::optional<std::string> body;
    double timeout = 60;       // seconds for the whole exchange; 0: no limit
    double connectTimeout = 0; // seconds for the connection alone; 0 means `timeout`
    // Seconds the exchange may go without a byte moving either way before it times out; 0: no
    // such limit. Unlike `timeout` it never cuts off a large upload or download that is still
    // making progress.
    double idleTimeout = 0;
    // A longer answer fails with dataLengthExceedsMaximum instead of filling memory or disk.
    std::optional<std::uint64_t> maxBytes;
    // Called as the answer arrives with the bytes so far and the announced total (0 when
    // unknown); returning false cancels the request.
    std::function<bool(std::uint64_t received, std::uint64_t total)> onProgress;
    // When set, the answer's body is handed here piece by piece instead of being collected.
    // An exception thrown here ends the request and reaches the caller unchanged.
    std::function<void(std::string_view chunk)> onData;
    // Called once, before the first piece of the final answer's body is handled, with that
    // answer's status and announced length (0 when unknown), so a sink can tell a file from an
    // error page and a download can measure its progress piece by piece. An exception thrown
    // here ends the request and reaches the caller unchanged.
    std::function<void(long status, std::uint64_t length)> onBodyStart;
};

struct Response {
    long status = 0;
    Headers headers; // of the final answer, after redirects, in the order received
    std::string body;

    // The first header of that name, compared without regard to ASCII case.
    std::optional<std::string> header(std::string_view name) const;
};

// Blocking. Throws TransportError when no HTTP answer arrives; any HTTP status is a Response.
Response perform(const Request& request);

// Whether libcurl accepts `url` as an absolute http or https address.
bool isValidURL(const std::string& url);

// `url` with the scheme, host and port of `origin` (no port when `origin` names none); its
// path and query stay. Nothing when either address cannot be parsed or lacks a scheme or host.
std::optional<std::string> replacingOrigin(const std::string& url, const std::string& origin);

} // namespace orvex::Http

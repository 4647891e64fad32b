#include "DeepLink.h"

#include <curl/curl.h>
#include <memory>

#include "Text.h"

namespace orvex::DeepLink {
namespace {

struct URLDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

// One part of the parsed address as libcurl gives it, still percent-encoded; nothing when the
// address has no such part.
std::optional<std::string> part(CURLU* url, CURLUPart which) {
    char* value = nullptr;
    if (curl_url_get(url, which, &value, 0) != CURLUE_OK || value == nullptr) return std::nullopt;
    std::string text(value);
    curl_free(value);
    return text;
}

// Percent-decoding only ('+' stays a plus, as in a URL's query items). Control characters
// decode too, so that encoded line breaks around a code are trimmed rather than fatal.
std::optional<std::string> decode(std::string_view text) {
    // libcurl reads a length of 0 as "up to the terminating NUL", past the end of the view.
    if (text.empty()) return std::string();
    int length = 0;
    char* decoded = curl_easy_unescape(nullptr, text.data(), static_cast<int>(text.size()), &length);
    if (decoded == nullptr) return std::nullopt;
    std::string out(decoded, static_cast<size_t>(length));
    curl_free(decoded);
    return out;
}

// A code is sent to the server as JSON text, which cannot hold bytes that are not UTF-8.
std::optional<std::string> normalizeDecoded(const std::optional<std::string>& text) {
    if (!text || !Text::isValidUTF8(*text)) return std::nullopt;
    return normalize(*text);
}

} // namespace

std::optional<std::string> code(const std::string& url) {
    // libcurl reads the address up to its first NUL; what follows must not be ignored silently.
    if (url.find('\0') != std::string::npos) return std::nullopt;
    // libcurl forgives a missing or an extra slash after the scheme ("orvexvpn:/code/x",
    // "orvexvpn:///code/x"), where a standard URL has no host "code" at all.
    size_t colon = url.find(':');
    if (colon == std::string::npos || url.compare(colon + 1, 2, "//") != 0 ||
        url.compare(colon + 3, 1, "/") == 0)
        return std::nullopt;
    std::unique_ptr<CURLU, URLDeleter> parsed(curl_url());
    if (!parsed) return std::nullopt;
    // The path is taken as written: "/a/../b" is a code, not a route to resolve.
    if (curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME | CURLU_PATH_AS_IS) !=
        CURLUE_OK)
        return std::nullopt;
    auto linkScheme = part(parsed.get(), CURLUPART_SCHEME);
    if (!linkScheme || Text::asciiLower(*linkScheme) != scheme) return std::nullopt;
    if (Text::asciiLower(part(parsed.get(), CURLUPART_HOST).value_or("")) != "code") return std::nullopt;

    auto path = decode(part(parsed.get(), CURLUPART_PATH).value_or(""));
    if (!path) return std::nullopt;
    size_t first = path->find_first_not_of('/');
    if (first != std::string::npos) {
        size_t last = path->find_last_not_of('/');
        return normalizeDecoded(path->substr(first, last - first + 1));
    }

    // libcurl has no query-item reader: items are split at "&", each at its first "=".
    std::string query = part(parsed.get(), CURLUPART_QUERY).value_or("");
    for (size_t begin = 0; begin <= query.size();) {
        size_t end = query.find('&', begin);
        if (end == std::string::npos) end = query.size();
        std::string_view item = std::string_view(query).substr(begin, end - begin);
        size_t equals = item.find('=');
        auto name = decode(item.substr(0, equals));
        if (name && (*name == "c" || *name == "code")) {
            if (equals == std::string_view::npos) return std::nullopt;
            return normalizeDecoded(decode(item.substr(equals + 1)));
        }
        begin = end + 1;
    }
    return std::nullopt;
}

std::optional<std::string> normalize(std::string_view text) {
    std::string trimmed = Text::trim(text);
    if (trimmed.empty()) return std::nullopt;
    return trimmed;
}

} // namespace orvex::DeepLink

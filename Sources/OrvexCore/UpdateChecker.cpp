#include "UpdateChecker.h"

#include <charconv>
#include <exception>
#include <nlohmann/json.hpp>

#include "Config.h"
#include "Http.h"
#include "Platform.h"
#include "Unicode.h"
#include "UpdateError.h"

namespace orvex::UpdateChecker {
namespace {

// The first mirror is the usual one and should answer quickly; the second is the fallback
// and gets more patience.
constexpr double firstMirrorLimit = 5;
constexpr double otherMirrorLimit = 15;
// A manifest is a few hundred bytes; a mirror that sends more is not sending a manifest.
constexpr std::uint64_t longestManifest = 1 << 20;

std::vector<std::string_view> piecesOf(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(separator, start);
        if (end == std::string_view::npos) end = text.size();
        if (end > start) pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

std::int64_t numberOf(std::string_view piece) {
    std::string digits;
    for (char32_t c : Unicode::decodeUTF8(piece)) {
        if (!Unicode::isNumeric(c)) continue;
        if (c < U'0' || c > U'9') return 0;
        digits += static_cast<char>(c);
    }
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size()) return 0;
    return value;
}

// A required text value, or an optional one that may also be null; anything else fails.
bool readText(const nlohmann::json& object, const char* key, bool required, std::optional<std::string>& out) {
    auto found = object.find(key);
    if (found == object.end() || found->is_null()) return !required;
    if (!found->is_string()) return false;
    out = found->get<std::string>();
    return true;
}

} // namespace

std::vector<std::string> manifestURLs() {
    std::vector<std::string> urls;
    std::string manifest = Platform::current().updateManifest;
    for (std::string base : Config::updateMirrors()) {
        if (!base.ends_with('/')) base += '/';
        urls.push_back(base + manifest);
    }
    return urls;
}

std::optional<Manifest> decodeManifest(std::string_view body) {
    nlohmann::json document = nlohmann::json::parse(body, nullptr, false);
    if (!document.is_object()) return std::nullopt;
    std::optional<std::string> version, installerUrl;
    Manifest manifest;
    if (!readText(document, "version", true, version) ||
        !readText(document, "installerUrl", true, installerUrl) ||
        !readText(document, "changelog", false, manifest.changelog) ||
        !readText(document, "minSupportedVersion", false, manifest.minSupportedVersion))
        return std::nullopt;
    manifest.version = *version;
    manifest.installerUrl = *installerUrl;
    return manifest;
}

std::optional<Info> check(const std::string& current, bool reportFailure) {
    std::exception_ptr lastFailure = std::make_exception_ptr(UpdateError::unavailable());
    std::vector<std::string> urls = manifestURLs();
    for (size_t i = 0; i < urls.size(); ++i) {
        if (!Http::isValidURL(urls[i])) continue;
        Http::Request request;
        request.url = urls[i];
        request.timeout = i == 0 ? firstMirrorLimit : otherMirrorLimit;
        request.maxBytes = longestManifest;
        Http::Response response;
        try {
            response = Http::perform(request);
        } catch (const Http::TransportError&) {
            lastFailure = std::current_exception();
            continue;
        }
        if (response.status != 200) {
            lastFailure = std::make_exception_ptr(UpdateError::unavailable());
            continue;
        }
        std::optional<Manifest> manifest = decodeManifest(response.body);
        if (!manifest || manifest->version.empty() || manifest->installerUrl.empty()) {
            lastFailure = std::make_exception_ptr(UpdateError::badManifest());
            continue;
        }
        if (!isNewer(manifest->version, current)) return std::nullopt;
        Info info;
        info.version = manifest->version;
        info.dmgURL = sameHost(urls[i], manifest->installerUrl);
        info.changelog = manifest->changelog.value_or("");
        std::string oldest = manifest->minSupportedVersion.value_or("");
        info.mandatory = !oldest.empty() && isNewer(oldest, current);
        return info;
    }
    if (reportFailure) std::rethrow_exception(lastFailure);
    return std::nullopt;
}

std::string sameHost(const std::string& manifestURL, const std::string& installerUrl) {
    return Http::replacingOrigin(installerUrl, manifestURL).value_or(installerUrl);
}

std::array<std::int64_t, 3> parts(std::string_view version) {
    std::vector<std::string_view> release = piecesOf(version, '-');
    std::string_view core = release.empty() ? version : release.front();
    std::vector<std::string_view> pieces = piecesOf(core, '.');
    std::array<std::int64_t, 3> numbers{0, 0, 0};
    for (size_t i = 0; i < numbers.size() && i < pieces.size(); ++i) numbers[i] = numberOf(pieces[i]);
    return numbers;
}

bool isNewer(std::string_view a, std::string_view than) { return parts(a) > parts(than); }

bool shouldShowDialog(const std::string& version, bool mandatory,
                      const std::optional<std::string>& dismissed) {
    if (version.empty()) return false;
    if (mandatory || !dismissed) return true;
    return version != *dismissed;
}

} // namespace orvex::UpdateChecker

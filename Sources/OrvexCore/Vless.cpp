#include "Vless.h"

#include "Text.h"

#include <optional>

namespace orvex::Vless {

namespace {

constexpr std::string_view scheme = "vless://";

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Nothing when an escape is malformed or the decoded bytes are not UTF-8: callers then keep
// the text as it was written rather than guess at its meaning.
std::optional<std::string> percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (text.size() - i < 3) return std::nullopt;
        int high = hexValue(text[i + 1]);
        int low = hexValue(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    if (!Text::isValidUTF8(out)) return std::nullopt;
    return out;
}

// A decimal number with at most one leading sign and nothing else, in 1…65535.
std::optional<std::int64_t> parsePort(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        // Anything past the range fails anyway, so stop growing before it could overflow.
        if (value <= 65535) value = value * 10 + (c - '0');
    }
    if (negative || value < 1 || value > 65535) return std::nullopt;
    return value;
}

int base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// RFC 4648 standard alphabet, padded, nothing ignored: line breaks, blanks and the URL-safe
// letters all make the text unreadable.
std::optional<std::string> base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t group = 0; group < text.size(); group += 4) {
        bool last = group + 4 == text.size();
        std::size_t padding = 0;
        if (last && text[group + 3] == '=') padding = text[group + 2] == '=' ? 2 : 1;
        std::uint32_t bits = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            int value = i < 4 - padding ? base64Value(text[group + i]) : 0;
            if (value < 0) return std::nullopt;
            bits = bits << 6 | static_cast<std::uint32_t>(value);
        }
        out += static_cast<char>(bits >> 16 & 0xff);
        if (padding < 2) out += static_cast<char>(bits >> 8 & 0xff);
        if (padding < 1) out += static_cast<char>(bits & 0xff);
    }
    return out;
}

} // namespace

VlessLink parse(std::string_view text) {
    std::string rest = Text::trim(text);
    if (!rest.starts_with(scheme)) throw VlessError(VlessError::Case::notVless);
    rest.erase(0, scheme.size());

    VlessLink link;
    // The fragment is cut first, so a "?" inside the remark never starts a query.
    if (auto hash = rest.find('#'); hash != std::string::npos) {
        std::string fragment = rest.substr(hash + 1);
        link.remark = percentDecode(fragment).value_or(fragment);
        rest.resize(hash);
    }
    std::string query;
    if (auto mark = rest.find('?'); mark != std::string::npos) {
        query = rest.substr(mark + 1);
        rest.resize(mark);
    }

    // The last "@" and the last ":" so that a user id may hold "@" and an IPv6 literal ":".
    auto at = rest.rfind('@');
    if (at == std::string::npos || at == 0) throw VlessError(VlessError::Case::noUUID);
    link.uuid = rest.substr(0, at);
    std::string_view hostPort = std::string_view(rest).substr(at + 1);
    auto colon = hostPort.rfind(':');
    if (colon == std::string_view::npos) throw VlessError(VlessError::Case::badPort);
    link.address = hostPort.substr(0, colon);
    if (link.address.empty()) throw VlessError(VlessError::Case::noAddress);
    auto port = parsePort(hostPort.substr(colon + 1));
    if (!port) throw VlessError(VlessError::Case::badPort);
    link.port = *port;

    auto values = parseQuery(query);
    auto take = [&values](const char* key, std::string& field) {
        if (auto found = values.find(key); found != values.end()) field = found->second;
    };
    take("encryption", link.encryption);
    take("flow", link.flow);
    take("type", link.type);
    take("security", link.security);
    take("sni", link.sni);
    take("fp", link.fingerprint);
    take("pbk", link.publicKey);
    take("sid", link.shortID);
    take("spx", link.spiderX);
    return link;
}

std::string decodeSubscription(std::string_view text) {
    std::string trimmed = Text::trim(text);
    auto bytes = base64Decode(trimmed);
    if (!bytes) bytes = base64Decode(trimmed + std::string((4 - trimmed.size() % 4) % 4, '='));
    if (!bytes || !Text::isValidUTF8(*bytes)) throw VlessError(VlessError::Case::badBase64);

    std::string_view decoded = *bytes;
    while (!decoded.empty()) {
        auto end = decoded.find('\n');
        std::string line = Text::trim(decoded.substr(0, end));
        if (!line.empty()) return line;
        if (end == std::string_view::npos) break;
        decoded.remove_prefix(end + 1);
    }
    throw VlessError(VlessError::Case::emptySubscription);
}

std::map<std::string, std::string> parseQuery(std::string_view query) {
    std::map<std::string, std::string> values;
    while (!query.empty()) {
        auto end = query.find('&');
        std::string_view piece = query.substr(0, end);
        query.remove_prefix(end == std::string_view::npos ? query.size() : end + 1);
        auto equals = piece.find('=');
        if (equals == std::string_view::npos) continue;
        std::string value(piece.substr(equals + 1));
        for (char& c : value)
            if (c == '+') c = ' ';
        values[std::string(piece.substr(0, equals))] = percentDecode(value).value_or(value);
    }
    return values;
}

} // namespace orvex::Vless

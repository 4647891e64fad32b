#include "Vless.h"

#include <gtest/gtest.h>

#include <string>

using namespace orvex;
using Case = VlessError::Case;

namespace {

// The case `read` fails with on a text, or nothing when it reads it.
template <auto read> std::optional<Case> failureOf(const std::string& text) {
    try {
        read(text);
    } catch (const VlessError& error) {
        return error.which();
    }
    return std::nullopt;
}

const auto failure = failureOf<Vless::parse>;
const auto subscriptionFailure = failureOf<Vless::decodeSubscription>;

} // namespace

TEST(Vless, ParsesEveryFieldFromItsKey) {
    auto link =
        Vless::parse(" \t vless://0f1e2d3c-aaaa-bbbb-cccc-112233445566@de1.example.net:443"
                     "?encryption=none&flow=xtls-rprx-vision&type=grpc&security=reality&sni=www.example.com"
                     "&fp=chrome&pbk=Pk0-_x&sid=6ba85179e30d4fc2&spx=%2Fpath%2Fx&extra=1#Германия%201\r\n");
    VlessLink expected;
    expected.uuid = "0f1e2d3c-aaaa-bbbb-cccc-112233445566";
    expected.address = "de1.example.net";
    expected.port = 443;
    expected.encryption = "none";
    expected.flow = "xtls-rprx-vision";
    expected.type = "grpc";
    expected.security = "reality";
    expected.sni = "www.example.com";
    expected.fingerprint = "chrome";
    expected.publicKey = "Pk0-_x";
    expected.shortID = "6ba85179e30d4fc2";
    expected.spiderX = "/path/x";
    expected.remark = "Германия 1";
    EXPECT_EQ(link, expected);

    // Only the three mandatory parts: every query-fed field keeps its default.
    auto bare = Vless::parse("vless://id@host:8443");
    VlessLink defaults;
    defaults.uuid = "id";
    defaults.address = "host";
    defaults.port = 8443;
    EXPECT_EQ(bare, defaults);
    EXPECT_EQ(bare.encryption, "none");
    EXPECT_EQ(bare.type, "tcp");

    // A key present with an empty value overrides the default.
    EXPECT_EQ(Vless::parse("vless://id@host:1?encryption=&type=").encryption, "");
    EXPECT_EQ(Vless::parse("vless://id@host:1?encryption=&type=").type, "");
}

TEST(Vless, HostUserAndPortTakeTheLastSeparators) {
    auto v6 = Vless::parse("vless://id@[2001:db8::1]:65535");
    EXPECT_EQ(v6.address, "[2001:db8::1]");
    EXPECT_EQ(v6.port, 65535);

    auto at = Vless::parse("vless://user@mail@host:443");
    EXPECT_EQ(at.uuid, "user@mail");
    EXPECT_EQ(at.address, "host");

    // User id and address are taken as written, escapes included.
    auto raw = Vless::parse("vless://a%40b@h%2Ex:80");
    EXPECT_EQ(raw.uuid, "a%40b");
    EXPECT_EQ(raw.address, "h%2Ex");

    EXPECT_EQ(Vless::parse("vless://id@host:+443").port, 443);
    EXPECT_EQ(Vless::parse("vless://id@host:1").port, 1);
}

TEST(Vless, ReportsTheFirstFaultInOrder) {
    EXPECT_EQ(failure("VLESS://id@host:443"), Case::notVless);
    EXPECT_EQ(failure("vmess://id@host:443"), Case::notVless);
    EXPECT_EQ(failure(""), Case::notVless);
    EXPECT_EQ(failure("vless:/id@host:443"), Case::notVless);

    EXPECT_EQ(failure("vless://host:443"), Case::noUUID);
    EXPECT_EQ(failure("vless://@host:443"), Case::noUUID);
    // No "@" beats every later fault.
    EXPECT_EQ(failure("vless://:"), Case::noUUID);
    EXPECT_EQ(failure("vless://"), Case::noUUID);
    // The "@" inside the fragment or the query does not count.
    EXPECT_EQ(failure("vless://host:443?x=a@b"), Case::noUUID);
    EXPECT_EQ(failure("vless://host:443#a@b"), Case::noUUID);

    // No ":" after the "@" is a port fault, even with no host either.
    EXPECT_EQ(failure("vless://id@host"), Case::badPort);
    EXPECT_EQ(failure("vless://id@"), Case::badPort);
    // A ":" only in the user id does not count.
    EXPECT_EQ(failure("vless://a:b@host"), Case::badPort);

    // An empty host is reported before a bad port.
    EXPECT_EQ(failure("vless://id@:443"), Case::noAddress);
    EXPECT_EQ(failure("vless://id@:"), Case::noAddress);
    EXPECT_EQ(failure("vless://id@:abc"), Case::noAddress);

    for (const char* port : {"0", "65536", "-1", "-443", "abc", "", "+", "4 43", " 443", "++443", "0x1bb",
                             "44.3", "99999999999999999999999", "４４３"})
        EXPECT_EQ(failure(std::string("vless://id@host:") + port), Case::badPort) << port;

    EXPECT_STREQ(VlessError(Case::notVless).what(), "это не vless:// ссылка");
    EXPECT_STREQ(VlessError(Case::noUUID).what(), "в ссылке нет идентификатора пользователя");
    EXPECT_STREQ(VlessError(Case::noAddress).what(), "в ссылке нет адреса сервера");
    EXPECT_STREQ(VlessError(Case::badPort).what(), "в ссылке некорректный порт");
    EXPECT_STREQ(VlessError(Case::emptySubscription).what(), "подписка пуста");
    EXPECT_STREQ(VlessError(Case::badBase64).what(), "подписка не читается");
}

TEST(Vless, FragmentIsCutBeforeTheQuery) {
    // A "?" after the "#" belongs to the remark; its keys are not read.
    auto link = Vless::parse("vless://id@host:443#name?security=tls&sni=x");
    EXPECT_EQ(link.remark, "name?security=tls&sni=x");
    EXPECT_EQ(link.security, "");
    EXPECT_EQ(link.sni, "");

    EXPECT_EQ(Vless::parse("vless://id@host:443?sni=a#b%20c").remark, "b c");
    EXPECT_EQ(Vless::parse("vless://id@host:443?sni=a#b%20c").sni, "a");
    // Malformed escapes and escapes of bytes that are not UTF-8 leave the remark as written.
    EXPECT_EQ(Vless::parse("vless://id@host:443#100%").remark, "100%");
    EXPECT_EQ(Vless::parse("vless://id@host:443#a%2").remark, "a%2");
    EXPECT_EQ(Vless::parse("vless://id@host:443#a%zz%20").remark, "a%zz%20");
    EXPECT_EQ(Vless::parse("vless://id@host:443#%FF%20").remark, "%FF%20");
    // The remark is not "+"-decoded, only percent-decoded; a second "#" stays in it.
    EXPECT_EQ(Vless::parse("vless://id@host:443#a+b#c").remark, "a+b#c");
    EXPECT_EQ(Vless::parse("vless://id@host:443#").remark, "");
}

TEST(Vless, QueryValuesAreDecoded) {
    auto values = Vless::parseQuery("a=1&&b&c=x+y%2Bz&a=2&d==e=&%41=k&f=%zz+1&g=");
    std::map<std::string, std::string> expected = {{"a", "2"},   {"c", "x y+z"}, {"d", "=e="},
                                                   {"%41", "k"}, {"f", "%zz 1"}, {"g", ""}};
    EXPECT_EQ(values, expected);
    EXPECT_TRUE(Vless::parseQuery("").empty());
    EXPECT_TRUE(Vless::parseQuery("&&noequals&").empty());
    EXPECT_EQ(Vless::parseQuery("=v").at(""), "v");

    // Keys match case-sensitively and exactly; a later duplicate wins.
    auto link = Vless::parse("vless://id@host:443?SNI=upper&sni=first&sni=second&spx=%2F&flow=a+b");
    EXPECT_EQ(link.sni, "second");
    EXPECT_EQ(link.spiderX, "/");
    EXPECT_EQ(link.flow, "a b");
}

TEST(Vless, DecodesSubscriptions) {
    // "vless://id@host:443#x\n" padded, and the same without its padding.
    EXPECT_EQ(Vless::decodeSubscription("dmxlc3M6Ly9pZEBob3N0OjQ0MyN4Cg=="), "vless://id@host:443#x");
    EXPECT_EQ(Vless::decodeSubscription("  dmxlc3M6Ly9pZEBob3N0OjQ0MyN4Cg\n"), "vless://id@host:443#x");
    // "\n\n   first line  \r\nsecond\n": blank lines skipped, CR and blanks trimmed.
    EXPECT_EQ(Vless::decodeSubscription("CgogICBmaXJzdCBsaW5lICANCnNlY29uZAo="), "first line");
    // "\r\n \r\nтретья": lines that are blank after trimming are skipped too.
    EXPECT_EQ(Vless::decodeSubscription("DQogDQrRgtGA0LXRgtGM0Y8="), "третья");

    EXPECT_EQ(subscriptionFailure(""), Case::emptySubscription);
    EXPECT_EQ(subscriptionFailure(" \n\t "), Case::emptySubscription);
    EXPECT_EQ(subscriptionFailure("CgoNCiAK"), Case::emptySubscription); // "\n\n\r\n \n"

    EXPECT_EQ(subscriptionFailure("vless://id@host:443"), Case::badBase64);
    // Inner line break, URL-safe alphabet, a padding character too many, padding in the middle.
    EXPECT_EQ(subscriptionFailure("dmxlc3M6Ly9p\nZEBob3N0OjQ0MyN4Cg=="), Case::badBase64);
    EXPECT_EQ(subscriptionFailure("_-__"), Case::badBase64);
    EXPECT_EQ(subscriptionFailure("QQ==="), Case::badBase64);
    EXPECT_EQ(subscriptionFailure("QQ==QUFB"), Case::badBase64);
    EXPECT_EQ(subscriptionFailure("Q"), Case::badBase64);
    EXPECT_EQ(subscriptionFailure("===="), Case::badBase64);
    // Decodes, but to bytes that are not UTF-8.
    EXPECT_EQ(subscriptionFailure("//79"), Case::badBase64);
}

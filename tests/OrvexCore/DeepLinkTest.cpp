#include "DeepLink.h"

#include <gtest/gtest.h>

using namespace orvex;

namespace {
std::optional<std::string> none = std::nullopt;
}

TEST(DeepLink, CodeFromPath) {
    EXPECT_EQ(DeepLink::code("orvexvpn://code/ab12"), "ab12");
    EXPECT_EQ(DeepLink::code("orvexvpn://CODE/ab12"), "ab12");
    EXPECT_EQ(DeepLink::code("ORVEXVPN://code/ab12/"), "ab12");
    EXPECT_EQ(DeepLink::code("OrvexVPN://Code//AbC12//"), "AbC12");
    EXPECT_EQ(DeepLink::code("orvexvpn://code/ab/12"), "ab/12");
    EXPECT_EQ(DeepLink::code("orvexvpn://code/a/../b"), "a/../b");
    EXPECT_EQ(DeepLink::code("orvexvpn://code/%D0%9A%D0%BE%D0%B4%2F1"), "Код/1");
    EXPECT_EQ(DeepLink::code("orvexvpn://code/%0A%20ab12%09"), "ab12");
    // The path wins over the query, also when it normalizes to nothing.
    EXPECT_EQ(DeepLink::code("orvexvpn://code/ab?c=zz"), "ab");
    EXPECT_EQ(DeepLink::code("orvexvpn://code/%20%20?c=Z9"), none);
    EXPECT_EQ(DeepLink::code("orvexvpn://code/%FF%FE"), none);
    EXPECT_EQ(DeepLink::code("orvexvpn://code/ab#frag"), "ab");
}

TEST(DeepLink, CodeFromQuery) {
    EXPECT_EQ(DeepLink::code("orvexvpn://code?c=Z9"), "Z9");
    EXPECT_EQ(DeepLink::code("orvexvpn://code/?code=Z9"), "Z9");
    EXPECT_EQ(DeepLink::code("orvexvpn://code?x=1&code=Z9"), "Z9");
    EXPECT_EQ(DeepLink::code("orvexvpn://code?code=A1&c=B2"), "A1");
    EXPECT_EQ(DeepLink::code("orvexvpn://code?c=a%2Bb+c%20"), "a+b+c");
    EXPECT_EQ(DeepLink::code("orvexvpn://code?c=x=y"), "x=y");
    EXPECT_EQ(DeepLink::code("orvexvpn://code?%63=Z9"), "Z9");
    EXPECT_EQ(DeepLink::code("orvexvpn://code?C=Z9"), none);
    EXPECT_EQ(DeepLink::code("orvexvpn://code?codes=Z9"), none);
    // The first item named c or code decides, even without a value.
    EXPECT_EQ(DeepLink::code("orvexvpn://code?c&code=Z9"), none);
    EXPECT_EQ(DeepLink::code("orvexvpn://code?code=&c=Z9"), none);
    EXPECT_EQ(DeepLink::code("orvexvpn://code?c=%20"), none);
    EXPECT_EQ(DeepLink::code("orvexvpn://code#c=Z9"), none);
    EXPECT_EQ(DeepLink::code("orvexvpn://code"), none);
}

TEST(DeepLink, OtherLinksCarryNoCode) {
    for (const char* url :
         {"", "code/ab12", "orvexvpn:code/ab12", "https://code/ab12", "orvexvpnx://code/ab12",
          "orvexvpn://toggle", "orvexvpn://update?c=1", "orvexvpn:///ab12", "orvexvpn:/code/ab12",
          "orvexvpn:///code/ab12", "orvexvpn://codes/ab", "orvexvpn://code /ab"})
        EXPECT_EQ(DeepLink::code(url), none) << url;
    EXPECT_EQ(DeepLink::code(std::string("orvexvpn://code/ab\0cd", 21)), none);
}

TEST(DeepLink, NormalizeTrimsOnly) {
    EXPECT_EQ(DeepLink::normalize("  Ab /c\u3000\n"), "Ab /c");
    EXPECT_EQ(DeepLink::normalize("\u00A0\t\r\n"), none);
    EXPECT_EQ(DeepLink::normalize(""), none);
}

#include "Config.h"

#include <gtest/gtest.h>

#include "TestSupport.h"

using namespace orvex;

TEST(Config, EnvironmentOverridesBuiltInHosts) {
    test::ScopedEnv bases("ORVEX_API_BASES", " https://127.0.0.1:1/ , ,https://127.0.0.1:2/,https://h3/");
    EXPECT_EQ(Config::apiBases(),
              (std::vector<std::string>{"https://127.0.0.1:1/", "https://127.0.0.1:2/", "https://h3/"}));
    test::ScopedEnv unset("ORVEX_UPDATE_MIRRORS", std::nullopt);
    EXPECT_EQ(Config::updateMirrors().size(), 2u);
    test::ScopedEnv ca("ORVEX_CA_FILE", std::nullopt);
    EXPECT_EQ(Config::caFile(), "");
}

#include "UpdateChecker.h"

#include "TestSupport.h"
#include "UpdateMirrors.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace orvex;
using namespace orvex::test;

TEST(UpdateCheckerSlow, AStalledFirstMirrorGivesWayToTheSecondAfterFiveSeconds) {
    TempDir dir;
    UpdateMirrors mirrors(dir.path());
    mirrors.first().setManifest(UpdateMirrors::manifest("9.0.0", "https://cdn.example/a.dmg"),
                                std::chrono::seconds(30));
    mirrors.second().setManifest(UpdateMirrors::manifest("2.0.0", "https://cdn.example/files/b.dmg"));
    auto started = std::chrono::steady_clock::now();
    auto info = UpdateChecker::check("1.0.0", true);
    auto waited = std::chrono::steady_clock::now() - started;
    ASSERT_TRUE(info);
    EXPECT_EQ(info->version, "2.0.0");
    EXPECT_EQ(info->dmgURL, mirrors.second().baseURL() + "files/b.dmg");
    EXPECT_GE(waited, std::chrono::milliseconds(4500));
    EXPECT_LT(waited, std::chrono::seconds(20));
}

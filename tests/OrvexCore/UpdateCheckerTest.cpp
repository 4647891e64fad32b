#include "UpdateChecker.h"

#include "ElevationError.h"
#include "FakeMacTools.h"
#include "Http.h"
#include "TestSupport.h"
#include "UpdateError.h"
#include "UpdateMirrors.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace orvex;
using namespace orvex::test;

namespace {

using Triple = std::array<std::int64_t, 3>;

// What went wrong, as the user would read it; empty when nothing was thrown.
std::string failureOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& error) {
        return error.what();
    }
    return {};
}

std::vector<std::string> entries(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// A scratch machine for the update flows: ORVEX_ROOT, HOME and the temporary folder in a
// fresh folder, two HTTPS mirrors and the fake installation tools.
class UpdateFlow : public ::testing::Test {
protected:
    TempDir dir;
    ScopedEnv root{"ORVEX_ROOT", dir.path()};
    ScopedEnv home{"HOME", dir / "home"};
    ScopedEnv temporary{"TMPDIR", dir / "tmp"};
    UpdateMirrors mirrors{dir.path()};
    FakeMacTools tools{dir.path()};

    void SetUp() override { fs::create_directories(dir / "tmp"); }

    UpdateChecker::Info offered(const std::string& version) {
        return {version, mirrors.first().baseURL() + mirrors.imagePath(version).substr(1), "", false};
    }

    // An image whose volume holds an application of `version`, and the application in place.
    std::string prepareImage(const std::string& version, bool signedImage = true) {
        fs::remove_all(dir / "volume");
        FakeMacTools::makeApplication(dir / "volume/ORVEX.app", version, signedImage);
        tools.setImageContents(dir / "volume", "ORVEX " + version);
        FakeMacTools::makeApplication(dir / "Applications/ORVEX.app", "1.4.0");
        writeFile(dir / "ORVEX.dmg", "image");
        return dir / "ORVEX.dmg";
    }
};

} // namespace

TEST(UpdateChecker, ComparesTheFirstThreeNumbersOfAVersion) {
    EXPECT_EQ(UpdateChecker::parts("1.2.3"), (Triple{1, 2, 3}));
    EXPECT_EQ(UpdateChecker::parts("2.0"), (Triple{2, 0, 0}));
    EXPECT_EQ(UpdateChecker::parts("1.2.3.4"), (Triple{1, 2, 3}));
    EXPECT_EQ(UpdateChecker::parts("1.2.3-beta.7"), (Triple{1, 2, 3}));
    EXPECT_EQ(UpdateChecker::parts("--1.2"), (Triple{1, 2, 0}));
    EXPECT_EQ(UpdateChecker::parts("v1..2rc"), (Triple{1, 2, 0}));
    EXPECT_EQ(UpdateChecker::parts(""), (Triple{0, 0, 0}));
    // Digits of other scripts, superscripts and numbers past 64 bits give 0, not garbage.
    EXPECT_EQ(UpdateChecker::parts("1.\u0662.3"), (Triple{1, 0, 3}));
    EXPECT_EQ(UpdateChecker::parts("4.1\u00B2.5"), (Triple{4, 0, 5}));
    EXPECT_EQ(UpdateChecker::parts("1.99999999999999999999.1"), (Triple{1, 0, 1}));
    EXPECT_EQ(UpdateChecker::parts("9223372036854775807"), (Triple{INT64_MAX, 0, 0}));

    EXPECT_TRUE(UpdateChecker::isNewer("1.10.0", "1.9.9"));
    EXPECT_FALSE(UpdateChecker::isNewer("1.9.9", "1.10.0"));
    EXPECT_FALSE(UpdateChecker::isNewer("2.0", "2.0.0"));
    EXPECT_TRUE(UpdateChecker::isNewer("0.0.1", "0.0.0"));
}

TEST(UpdateChecker, ShowsTheDialogUntilThatVersionIsDismissed) {
    EXPECT_FALSE(UpdateChecker::shouldShowDialog("", true, std::nullopt));
    EXPECT_TRUE(UpdateChecker::shouldShowDialog("1.5.0", false, std::nullopt));
    EXPECT_FALSE(UpdateChecker::shouldShowDialog("1.5.0", false, "1.5.0"));
    EXPECT_TRUE(UpdateChecker::shouldShowDialog("1.5.1", false, "1.5.0"));
    EXPECT_TRUE(UpdateChecker::shouldShowDialog("1.5.0", true, "1.5.0"));
}

TEST(UpdateChecker, DecodesOnlyWellFormedManifests) {
    auto full = UpdateChecker::decodeManifest(
        R"({"version":"1.5.0","installerUrl":"https://u/x.dmg","changelog":"Новое","minSupportedVersion":"1.2","x":1})");
    ASSERT_TRUE(full);
    EXPECT_EQ(full->version, "1.5.0");
    EXPECT_EQ(full->installerUrl, "https://u/x.dmg");
    EXPECT_EQ(full->changelog, "Новое");
    EXPECT_EQ(full->minSupportedVersion, "1.2");
    auto bare = UpdateChecker::decodeManifest(R"({"version":"1","installerUrl":"","changelog":null})");
    ASSERT_TRUE(bare);
    EXPECT_FALSE(bare->changelog);
    EXPECT_FALSE(bare->minSupportedVersion);

    for (const char* broken :
         {R"({"version":"1.5.0"})", R"({"version":null,"installerUrl":"u"})",
          R"({"version":150,"installerUrl":"u"})",
          R"({"version":"1","installerUrl":"u","minSupportedVersion":2})", R"(["version","installerUrl"])",
          "", "{\"version\":\"1\",\"installerUrl\":\"\xC3\x28\"}"})
        EXPECT_FALSE(UpdateChecker::decodeManifest(broken)) << broken;
}

TEST(UpdateChecker, MovesTheDownloadOntoTheMirrorThatAnswered) {
    EXPECT_EQ(UpdateChecker::sameHost("https://m2.example:8443/app/mac/version-mac.json",
                                      "http://cdn.example/files/ORVEX-1.5.0.dmg?sig=a%2Fb"),
              "https://m2.example:8443/files/ORVEX-1.5.0.dmg?sig=a%2Fb");
    EXPECT_EQ(UpdateChecker::sameHost("https://m2.example/app/mac/version-mac.json",
                                      "https://cdn.example:9000/x.dmg"),
              "https://m2.example/x.dmg");
    EXPECT_EQ(UpdateChecker::sameHost("https://m2.example/m.json", "files/x.dmg"), "files/x.dmg");
    EXPECT_EQ(UpdateChecker::sameHost("not an address", "https://cdn.example/x.dmg"),
              "https://cdn.example/x.dmg");

    EXPECT_EQ(UpdateChecker::packageURL("https://u/ORVEX-1.5.0.dmg"), "https://u/ORVEX-1.5.0.pkg");
    EXPECT_EQ(UpdateChecker::packageURL("https://u/ORVEX-1.5.0.dmg?x"), "https://u/ORVEX-1.5.0.dmg?x");
}

TEST(UpdateChecker, FindsTheMountPointInTheAttachTable) {
    EXPECT_EQ(UpdateChecker::mountPoint(
                  "expected CRC32 $D1A3B5C7\n"
                  "/dev/disk4          \tGUID_partition_scheme          \t\n"
                  "/dev/disk4s1        \tApple_HFS                      \t/Volumes/ORVEX 1.5.0 \t\n"),
              "/Volumes/ORVEX 1.5.0");
    EXPECT_EQ(UpdateChecker::mountPoint("/dev/disk4\t/Volumes\n/dev/disk4s1\t/private/Volumes/X/Y"),
              "/Volumes/X/Y");
    EXPECT_EQ(UpdateChecker::mountPoint("/dev/disk4\tApple_HFS\t/Volumes"), "");
}

TEST(UpdateChecker, RecognisesPermissionFailures) {
    EXPECT_TRUE(UpdateChecker::isPermissionDenied("ditto: /Applications/.x.app: Permission denied"));
    EXPECT_TRUE(UpdateChecker::isPermissionDenied("Operation NOT PERMITTED"));
    EXPECT_TRUE(UpdateChecker::isPermissionDenied("cp: /Applications/ORVEX.app: Отказано в доступе"));
    EXPECT_TRUE(UpdateChecker::isPermissionDenied("ОТКАЗАНО В ДОСТУПЕ"));
    EXPECT_FALSE(UpdateChecker::isPermissionDenied("ditto: /Applications: No space left on device"));
    for (int code : {EACCES, EPERM, EROFS})
        EXPECT_TRUE(UpdateChecker::isPermissionDenied(std::error_code(code, std::generic_category())))
            << code;
    EXPECT_FALSE(UpdateChecker::isPermissionDenied(std::error_code(ENOSPC, std::generic_category())));
}

TEST_F(UpdateFlow, TakesTheFirstManifestThatDecodes) {
    mirrors.first().setManifest("<html>502 Bad Gateway</html>");
    mirrors.second().setManifest(UpdateMirrors::manifest(
        "2.1.0", "https://cdn.example/files/ORVEX-2.1.0.dmg?k=1", "Исправления", "2.0"));
    auto info = UpdateChecker::check("1.9.5", true);
    ASSERT_TRUE(info);
    EXPECT_EQ(*info, (UpdateChecker::Info{"2.1.0", mirrors.second().baseURL() + "files/ORVEX-2.1.0.dmg?k=1",
                                          "Исправления", true}));
    EXPECT_FALSE(UpdateChecker::check("2.0.0", true)->mandatory);

    // Nothing newer is an answer: the other mirror is not asked.
    mirrors.first().setManifest(UpdateMirrors::manifest("2.1.0", "https://cdn.example/x.dmg"));
    size_t asked = mirrors.second().requests().size();
    EXPECT_FALSE(UpdateChecker::check("2.1.0", true));
    EXPECT_FALSE(UpdateChecker::check("2.1.0-beta", true));
    EXPECT_EQ(mirrors.second().requests().size(), asked);
}

TEST_F(UpdateFlow, ReportsTheLastMirrorsFailure) {
    mirrors.first().setManifest(UpdateMirrors::manifest("2.1.0", ""));
    mirrors.second().setManifest(R"({"version":"2.1.0"})");
    EXPECT_EQ(failureOf([] { UpdateChecker::check("1.0.0", true); }),
              "Сервер вернул непонятный ответ об обновлении.");
    EXPECT_FALSE(UpdateChecker::check("1.0.0", false));

    mirrors.second().setAnswer(UpdateServer::manifestPath, FileAnswer{.status = 503});
    EXPECT_EQ(failureOf([] { UpdateChecker::check("1.0.0", true); }),
              "Не удалось проверить обновления — сервер недоступен.");

    mirrors.second().stop();
    try {
        UpdateChecker::check("1.0.0", true);
        ADD_FAILURE() << "a refused connection passed for an answer";
    } catch (const Http::TransportError& error) {
        EXPECT_EQ(error.code, Http::TransportError::Code::cannotConnectToHost);
    }
    EXPECT_FALSE(UpdateChecker::check("1.0.0"));
}

TEST_F(UpdateFlow, DownloadsWithProgressOncePerWholePercent) {
    mirrors.publish("1.5.0", 1'234'567);
    std::vector<double> reported;
    std::string package = UpdateChecker::downloadPackage(offered("1.5.0"), dir / "into",
                                                         [&](double f) { reported.push_back(f); });
    EXPECT_EQ(package, dir / "into/ORVEX-1.5.0.pkg");
    EXPECT_EQ(readFile(package), UpdateMirrors::payload(1'234'567));
    EXPECT_EQ(mirrors.first().requestCount(mirrors.packagePath("1.5.0")), 1u);
    ASSERT_FALSE(reported.empty());
    EXPECT_EQ(reported.back(), 1.0);
    for (size_t i = 1; i < reported.size(); ++i)
        EXPECT_LT(static_cast<int>(reported[i - 1] * 100), static_cast<int>(reported[i] * 100)) << i;

    // Without a known size there is nothing to report, but the file still arrives.
    mirrors.first().setAnswer(mirrors.imagePath("1.5.0"),
                              FileAnswer{.body = UpdateMirrors::payload(1'100'000), .chunked = true});
    reported.clear();
    std::string image = UpdateChecker::download(offered("1.5.0"), [&](double f) { reported.push_back(f); });
    EXPECT_EQ(image, dir / "tmp/ORVEX-update/ORVEX-1.5.0.dmg");
    EXPECT_EQ(readFile(image), UpdateMirrors::payload(1'100'000));
    EXPECT_TRUE(reported.empty());
    struct stat folder {};
    ASSERT_EQ(stat((dir / "tmp/ORVEX-update").c_str(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 07777, 0700u);
}

TEST_F(UpdateFlow, LeavesNoFileBehindAFailedDownload) {
    auto info = offered("1.5.0");
    mirrors.first().setAnswer(mirrors.imagePath("1.5.0"), FileAnswer{.body = std::string(900'000, 'x')});
    writeFile(dir / "tmp/ORVEX-update/ORVEX-1.5.0.dmg", "an older download");
    EXPECT_EQ(failureOf([&] { UpdateChecker::download(info, nullptr); }),
              "Не удалось скачать обновление: файл повреждён (900000 байт)");
    EXPECT_EQ(entries(dir / "tmp/ORVEX-update"), std::vector<std::string>{});

    mirrors.first().setAnswer(
        mirrors.imagePath("1.5.0"),
        FileAnswer{.body = UpdateMirrors::payload(1'200'000), .announcedLength = 2'000'000});
    try {
        UpdateChecker::download(info, nullptr);
        ADD_FAILURE() << "a cut-off transfer passed for a download";
    } catch (const Http::TransportError& error) {
        EXPECT_EQ(error.code, Http::TransportError::Code::networkConnectionLost);
    }
    EXPECT_EQ(entries(dir / "tmp/ORVEX-update"), std::vector<std::string>{});

    EXPECT_EQ(failureOf([&] { UpdateChecker::downloadPackage(info, std::nullopt, nullptr); }),
              "Не удалось скачать обновление: сервер не отдал файл (код 404)");
    EXPECT_EQ(entries(dir / "tmp/ORVEX-update"), std::vector<std::string>{});

    info.version = "1.5.0/../../escaped";
    EXPECT_EQ(failureOf([&] { UpdateChecker::download(info, nullptr); }),
              "Сервер вернул непонятный ответ об обновлении.");
    info.dmgURL = "ftp://u/x.dmg";
    info.version = "1.5.0";
    EXPECT_EQ(failureOf([&] { UpdateChecker::download(info, nullptr); }),
              "Сервер вернул непонятный ответ об обновлении.");
}

TEST_F(UpdateFlow, InstallsFromTheImageAndDetachesIt) {
    std::string image = prepareImage("1.5.0");
    std::string bundle = dir / "Applications/ORVEX.app";
    EXPECT_EQ(UpdateChecker::install(image, "1.5.0", bundle), bundle);
    EXPECT_EQ(UpdateChecker::bundleVersion(bundle), "1.5.0");
    EXPECT_EQ(entries(dir / "Applications"), std::vector<std::string>{"ORVEX.app"});
    EXPECT_TRUE(tools.mountPoints().empty());
    auto calls = tools.calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0], "hdiutil attach " + image + " -nobrowse -readonly -noverify");
    EXPECT_EQ(calls[1], "codesign --verify --deep --strict " + dir.path() + "/Volumes/ORVEX 1.5.0/ORVEX.app");
    EXPECT_TRUE(calls[2].starts_with("ditto " + dir.path() + "/Volumes/ORVEX 1.5.0/ORVEX.app " + dir.path() +
                                     "/Applications/.ORVEX-update-"))
        << calls[2];
    EXPECT_EQ(calls[3], "hdiutil detach " + dir.path() + "/Volumes/ORVEX 1.5.0");

    // Without the signature tool the check is skipped; a busy volume is detached by force.
    fs::remove(dir / "usr/bin/codesign");
    prepareImage("1.5.1", false);
    tools.failAt("hdiutil", 4);
    EXPECT_EQ(UpdateChecker::install(image, "1.5.1", bundle), bundle);
    EXPECT_EQ(UpdateChecker::bundleVersion(bundle), "1.5.1");
    EXPECT_EQ(tools.calls("hdiutil").back(), "hdiutil detach " + dir.path() + "/Volumes/ORVEX 1.5.1 -force");
    EXPECT_TRUE(tools.mountPoints().empty());
}

TEST_F(UpdateFlow, RefusesAnImageThatIsNotWhatWasPromised) {
    std::string bundle = dir / "Applications/ORVEX.app";
    std::string image = prepareImage("1.4.9");
    EXPECT_EQ(failureOf([&] { UpdateChecker::install(image, "1.5.0", bundle); }),
              "Не удалось установить обновление: в образе версия 1.4.9, а обещана 1.5.0");
    EXPECT_TRUE(tools.mountPoints().empty());

    prepareImage("1.5.0", false);
    EXPECT_EQ(failureOf([&] { UpdateChecker::install(image, "1.5.0", bundle); }),
              "Не удалось установить обновление: подпись образа не проходит проверку: " + dir.path() +
                  "/Volumes/ORVEX 1.5.0/ORVEX.app: code object is not signed at all\nIn architecture: arm64");
    EXPECT_TRUE(tools.mountPoints().empty());

    fs::remove_all(dir / "volume/ORVEX.app");
    EXPECT_EQ(failureOf([&] { UpdateChecker::install(image, "1.5.0", bundle); }),
              "Не удалось установить обновление: в образе нет приложения");
    EXPECT_TRUE(tools.mountPoints().empty());

    prepareImage("1.5.0");
    tools.failAt("ditto", 1);
    std::string failure = failureOf([&] { UpdateChecker::install(image, "1.5.0", bundle); });
    std::string copyCall = tools.calls("ditto").at(0);
    std::string staged = copyCall.substr(copyCall.rfind(' ') + 1);
    EXPECT_EQ(failure, "Не удалось установить обновление: не удалось распаковать: ditto: " + staged +
                           ": No space left on device");
    EXPECT_EQ(UpdateChecker::bundleVersion(bundle), "1.4.0");

    tools.deny("ditto");
    try {
        UpdateChecker::install(image, "1.5.0", bundle);
        ADD_FAILURE() << "a refused copy passed";
    } catch (const UpdateError& error) {
        EXPECT_EQ(error.which(), UpdateError::Case::needsManualCopy);
        EXPECT_EQ(error.payload(), image);
    }
    EXPECT_TRUE(tools.mountPoints().empty());

    tools.deny("hdiutil", "attach");
    EXPECT_EQ(failureOf([&] { UpdateChecker::install(image, "1.5.0", bundle); }),
              "Не удалось установить обновление: не удалось смонтировать образ: hdiutil: attach failed - "
              "Permission "
              "denied");
    EXPECT_EQ(tools.calls("hdiutil").back(), "hdiutil attach " + image + " -nobrowse -readonly -noverify");
}

// Root may write anywhere, so the refusal is shown by a child that gave up root first.
TEST_F(UpdateFlow, AnUnwritableApplicationFolderNeedsAManualCopy) {
    std::string image = prepareImage("1.5.0");
    std::string bundle = dir / "Applications/ORVEX.app";
    uid_t nobody = 65534;
    fs::permissions(dir.path(), fs::perms::all);
    for (const auto& entry : fs::recursive_directory_iterator(dir.path())) {
        if (!entry.is_symlink()) fs::permissions(entry.path(), fs::perms::all);
    }
    fs::permissions(dir / "Applications", fs::perms::owner_all | fs::perms::group_read |
                                              fs::perms::group_exec | fs::perms::others_read |
                                              fs::perms::others_exec);
    if (geteuid() == 0) chown((dir / "Applications").c_str(), 0, 0);

    int channel[2];
    ASSERT_EQ(pipe(channel), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(channel[0]);
        std::string result;
        if (geteuid() == 0 && (setgid(nobody) != 0 || setuid(nobody) != 0)) result = "cannot drop root";
        if (result.empty()) {
            try {
                UpdateChecker::install(image, "1.5.0", bundle);
                result = "installed";
            } catch (const UpdateError& error) {
                result = error.which() == UpdateError::Case::needsManualCopy ? "manual:" + error.payload()
                                                                             : error.what();
            } catch (const std::exception& error) {
                result = error.what();
            }
        }
        ssize_t ignored = write(channel[1], result.data(), result.size());
        (void)ignored;
        _exit(0);
    }
    close(channel[1]);
    std::string result;
    char buffer[512];
    for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) > 0;) result.append(buffer, size_t(n));
    close(channel[0]);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(result, "manual:" + image);
    EXPECT_EQ(UpdateChecker::bundleVersion(bundle), "1.4.0");
    EXPECT_TRUE(tools.mountPoints().empty());
    EXPECT_EQ(tools.calls("ditto").size(), 0u);
}

TEST_F(UpdateFlow, InstallsThePackageWithOnePrompt) {
    fs::create_symlink(fixture("osascript"), dir / "usr/bin/osascript");
    std::string package = dir / "it's here/ORVEX-1.5.0.pkg";
    writeFile(package, "package");
    FakeMacTools::makeApplication(dir / "new/ORVEX.app", "1.5.0");
    tools.setPackageContents(dir / "new/ORVEX.app");

    EXPECT_EQ(UpdateChecker::installPackage(package, "1.5.0"), dir / "Applications/ORVEX.app");
    EXPECT_EQ(tools.calls("installer"), std::vector<std::string>{"installer -pkg " + package + " -target /"});
    EXPECT_EQ(tools.applicationRuns(), std::vector<std::string>{"-install-service"});

    FakeMacTools::makeApplication(dir / "new/ORVEX.app", "1.4.0", true, true);
    EXPECT_EQ(failureOf([&] { UpdateChecker::installPackage(package, "1.5.0"); }),
              "Не удалось установить обновление: установилась версия 1.4.0, а ожидалась 1.5.0");

    ScopedEnv cancel("FAKE_OSASCRIPT", "cancel");
    try {
        UpdateChecker::installPackage(package, "1.5.0");
        ADD_FAILURE() << "a dismissed prompt passed";
    } catch (const ElevationError& error) {
        EXPECT_EQ(error.which(), ElevationError::Case::cancelled);
    }
    EXPECT_EQ(tools.calls("installer").size(), 2u);
}

#include "UpdateChecker.h"

#include "ElevationError.h"
#include "FakeMacTools.h"
#include "Http.h"
#include "TestSupport.h"
#include "Thrown.h"
#include "UpdateError.h"
#include "UpdateMirrors.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace orvex;
using namespace orvex::test;

namespace {

std::vector<std::string> entries(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) names.push_back(entry.path().filename());
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
    std::string bundle = dir / "Applications/ORVEX.app";
    std::string image = dir / "ORVEX.dmg";

    void SetUp() override { fs::create_directories(dir / "tmp"); }

    UpdateChecker::Info offered(const std::string& version) {
        return {version, mirrors.first().baseURL() + mirrors.imagePath(version).substr(1), "", false};
    }

    // An image whose volume holds an application of `version`, and the application in place.
    void prepareImage(const std::string& version, bool signedImage = true) {
        fs::remove_all(dir / "volume");
        FakeMacTools::makeApplication(dir / "volume/ORVEX.app", version, signedImage);
        tools.setImageContents(dir / "volume", "ORVEX " + version);
        FakeMacTools::makeApplication(bundle, "1.4.0");
        writeFile(image, "image");
    }

    std::string installFailure(const std::string& expecting = "1.5.0") {
        return whatOf([&] { UpdateChecker::install(image, expecting, bundle); });
    }
};

} // namespace

// Pieces of a version are read as ASCII digits; any other character with a numeric value
// (another script's digit, a superscript, a Roman or Unihan numeral, a digit added in a recent
// Unicode version) makes the piece 0, and characters without one are skipped.
TEST(UpdateChecker, ComparesTheFirstThreeNumbersOfAVersion) {
    // Each version, then the numbers read from it.
    // clang-format off
    const char* rows[] = {
        "1.2.3", "1.2.3",   "2.0", "2.0.0",   "1.2.3.4", "1.2.3",   "1.2.3-beta.7", "1.2.3",   "--1.2", "1.2.0",
        "v1..2rc", "1.2.0",   "", "0.0.0",   "1.\u0662.3", "1.0.3",   "4.1\u00B2.5", "4.0.5",   "7.\u216B.1", "7.0.1",
        "1.2\u4E09.3", "1.0.3",   "3.\U00011F52.4", "3.0.4",   "2.бета5.1", "2.5.1",
        "1.99999999999999999999.1", "1.0.1",   "9223372036854775807", "9223372036854775807.0.0"};
    // clang-format on
    for (size_t i = 0; i < std::size(rows); i += 2) {
        auto [major, minor, patch] = UpdateChecker::parts(rows[i]);
        EXPECT_EQ(std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch),
                  rows[i + 1])
            << rows[i];
    }
    for (auto [a, b, newer] : {std::tuple{"1.10.0", "1.9.9", true},
                               {"1.9.9", "1.10.0", false},
                               {"2.0", "2.0.0", false},
                               {"0.0.1", "0.0.0", true},
                               {"1.\U00011F59.0", "1.0.1", false}})
        EXPECT_EQ(UpdateChecker::isNewer(a, b), newer) << a << " " << b;
}

// The flows below read whole manifests, move downloads onto the mirror and mount images; here
// are the edges they do not reach.
TEST(UpdateChecker, ReadsManifestsAddressesAndToolOutput) {
    auto bare = UpdateChecker::decodeManifest(R"({"version":"1","installerUrl":"","changelog":null})");
    EXPECT_FALSE(bare.value().changelog || bare->minSupportedVersion);
    for (const char* broken : {R"({"version":"1.5.0"})", R"({"version":150,"installerUrl":"u"})",
                               R"({"version":"1","installerUrl":"u","minSupportedVersion":2})", "",
                               "{\"version\":\"1\",\"installerUrl\":\"\xC3\x28\"}"})
        EXPECT_FALSE(UpdateChecker::decodeManifest(broken)) << broken;
    EXPECT_EQ(UpdateChecker::sameHost("not an address", "https://cdn.example/x.dmg"),
              "https://cdn.example/x.dmg");
    EXPECT_EQ(UpdateChecker::packageURL("https://u/ORVEX-1.5.0.dmg?x"), "https://u/ORVEX-1.5.0.dmg?x");
    EXPECT_EQ(UpdateChecker::mountPoint("/dev/disk4\t/Volumes\n/dev/disk4s1\t/private/Volumes/X/Y"),
              "/Volumes/X/Y");
    EXPECT_EQ(UpdateChecker::mountPoint("/dev/disk4\tApple_HFS\t/Volumes"), "");
    for (const char* denied : {"Operation NOT PERMITTED", "cp: /Applications/ORVEX.app: ОТКАЗАНО В ДОСТУПЕ"})
        EXPECT_TRUE(UpdateChecker::isPermissionDenied(denied)) << denied;
    EXPECT_FALSE(UpdateChecker::isPermissionDenied("ditto: /Applications: No space left on device"));
    for (int code : {EACCES, EPERM, EROFS, ENOSPC})
        EXPECT_EQ(UpdateChecker::isPermissionDenied(std::error_code(code, std::generic_category())),
                  code != ENOSPC);
}

TEST_F(UpdateFlow, TakesTheFirstManifestThatDecodesOrReportsTheLastFailure) {
    mirrors.first().setManifest("<html>502 Bad Gateway</html>");
    mirrors.second().setManifest(UpdateMirrors::manifest(
        "2.1.0", "https://cdn.example/files/ORVEX-2.1.0.dmg?k=1", "Исправления", "2.0"));
    EXPECT_EQ(UpdateChecker::check("1.9.5", true),
              (UpdateChecker::Info{"2.1.0", mirrors.second().baseURL() + "files/ORVEX-2.1.0.dmg?k=1",
                                   "Исправления", true}));
    EXPECT_FALSE(UpdateChecker::check("2.0.0", true)->mandatory);
    // Nothing newer is an answer: the other mirror is not asked.
    mirrors.first().setManifest(UpdateMirrors::manifest("2.1.0", "https://cdn.example/x.dmg"));
    size_t asked = mirrors.second().requests().size();
    EXPECT_FALSE(UpdateChecker::check("2.1.0", true));
    EXPECT_FALSE(UpdateChecker::check("2.1.0-beta", true));
    EXPECT_EQ(mirrors.second().requests().size(), asked);
    // With no manifest that decodes, the last mirror's failure is the one reported.
    mirrors.first().setManifest(UpdateMirrors::manifest("2.1.0", ""));
    mirrors.second().setManifest(R"({"version":"2.1.0"})");
    EXPECT_EQ(whatOf([] { UpdateChecker::check("1.0.0", true); }),
              "Сервер вернул непонятный ответ об обновлении.");
    EXPECT_FALSE(UpdateChecker::check("1.0.0", false));
    mirrors.second().setAnswer(UpdateServer::manifestPath, FileAnswer{.status = 503});
    EXPECT_EQ(whatOf([] { UpdateChecker::check("1.0.0", true); }),
              "Не удалось проверить обновления — сервер недоступен.");
    mirrors.second().stop();
    EXPECT_EQ(thrown<Http::TransportError>([] { UpdateChecker::check("1.0.0", true); }).value().code,
              Http::TransportError::Code::cannotConnectToHost);
    EXPECT_FALSE(UpdateChecker::check("1.0.0"));
}

TEST_F(UpdateFlow, DownloadsWithProgressOncePerWholePercent) {
    mirrors.publish("1.5.0", 1'234'567);
    std::vector<double> reported;
    auto record = [&](double f) { reported.push_back(f); };
    std::string package = UpdateChecker::downloadPackage(offered("1.5.0"), dir / "into", record);
    EXPECT_EQ(package, dir / "into/ORVEX-1.5.0.pkg");
    EXPECT_EQ(readFile(package), UpdateMirrors::payload(1'234'567));
    ASSERT_FALSE(reported.empty());
    EXPECT_EQ(reported.back(), 1.0);
    for (size_t i = 1; i < reported.size(); ++i)
        EXPECT_LT(static_cast<int>(reported[i - 1] * 100), static_cast<int>(reported[i] * 100)) << i;
    // Without a known size there is nothing to report, but the file still arrives, in a private folder.
    mirrors.first().setAnswer(mirrors.imagePath("1.5.0"),
                              FileAnswer{.body = UpdateMirrors::payload(1'100'000), .chunked = true});
    reported.clear();
    std::string downloaded = UpdateChecker::download(offered("1.5.0"), record);
    EXPECT_EQ(downloaded, dir / "tmp/ORVEX-update/ORVEX-1.5.0.dmg");
    EXPECT_EQ(readFile(downloaded), UpdateMirrors::payload(1'100'000));
    EXPECT_TRUE(reported.empty());
    struct stat folder {};
    ASSERT_EQ(stat((dir / "tmp/ORVEX-update").c_str(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 07777, 0700u);
}

TEST_F(UpdateFlow, LeavesNoFileBehindAFailedDownload) {
    auto info = offered("1.5.0");
    const std::string folder = dir / "tmp/ORVEX-update";
    mirrors.first().setAnswer(mirrors.imagePath("1.5.0"), FileAnswer{.body = std::string(900'000, 'x')});
    writeFile(folder + "/ORVEX-1.5.0.dmg", "an older download");
    EXPECT_EQ(whatOf([&] { UpdateChecker::download(info, nullptr); }),
              "Не удалось скачать обновление: файл повреждён (900000 байт)");
    EXPECT_EQ(entries(folder), std::vector<std::string>{});
    mirrors.first().setAnswer(
        mirrors.imagePath("1.5.0"),
        FileAnswer{.body = UpdateMirrors::payload(1'200'000), .announcedLength = 2'000'000});
    EXPECT_EQ(thrown<Http::TransportError>([&] { UpdateChecker::download(info, nullptr); }).value().code,
              Http::TransportError::Code::networkConnectionLost);
    EXPECT_EQ(entries(folder), std::vector<std::string>{});
    EXPECT_NE(whatOf([&] { UpdateChecker::downloadPackage(info, std::nullopt, nullptr); }), "");
    EXPECT_EQ(entries(folder), std::vector<std::string>{});
    // A version that climbs out of the folder, or an address that is not HTTPS, is refused.
    for (auto [version, url] : {std::pair{"1.5.0/../../escaped", info.dmgURL}, {"1.5.0", "ftp://u/x.dmg"}})
        EXPECT_EQ(whatOf([&] {
                      UpdateChecker::download({version, url, "", false}, nullptr);
                  }),
                  "Сервер вернул непонятный ответ об обновлении.");
}

TEST_F(UpdateFlow, InstallsFromTheImageAndDetachesIt) {
    prepareImage("1.5.0");
    EXPECT_EQ(UpdateChecker::install(image, "1.5.0", bundle), bundle);
    EXPECT_EQ(UpdateChecker::bundleVersion(bundle), "1.5.0");
    EXPECT_EQ(entries(dir / "Applications"), std::vector<std::string>{"ORVEX.app"});
    EXPECT_TRUE(tools.mountPoints().empty());
    auto calls = tools.calls();
    const std::string volume = dir / "Volumes/ORVEX 1.5.0";
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0], "hdiutil attach " + image + " -nobrowse -readonly -noverify");
    EXPECT_EQ(calls[1], "codesign --verify --deep --strict " + volume + "/ORVEX.app");
    EXPECT_TRUE(calls[2].starts_with("ditto " + volume + "/ORVEX.app " + dir / "Applications/.ORVEX-update-"))
        << calls[2];
    EXPECT_EQ(calls[3], "hdiutil detach " + volume);
    // Without the signature tool the check is skipped; a busy volume is detached by force.
    fs::remove(dir / "usr/bin/codesign");
    prepareImage("1.5.1", false);
    tools.failAt("hdiutil", 4);
    EXPECT_EQ(UpdateChecker::install(image, "1.5.1", bundle), bundle);
    EXPECT_EQ(UpdateChecker::bundleVersion(bundle), "1.5.1");
    EXPECT_EQ(tools.calls("hdiutil").back(), "hdiutil detach " + dir / "Volumes/ORVEX 1.5.1 -force");
    EXPECT_TRUE(tools.mountPoints().empty());
}

TEST_F(UpdateFlow, RefusesAnImageThatIsNotWhatWasPromised) {
    const std::string failed = "Не удалось установить обновление: ";
    prepareImage("1.4.9");
    EXPECT_EQ(installFailure(), failed + "в образе версия 1.4.9, а обещана 1.5.0");
    EXPECT_TRUE(tools.mountPoints().empty());
    prepareImage("1.5.0", false);
    EXPECT_EQ(installFailure(), failed + "подпись образа не проходит проверку: " + dir.path() +
                                    "/Volumes/ORVEX 1.5.0/ORVEX.app: code object is not signed at all\n"
                                    "In architecture: arm64");
    EXPECT_TRUE(tools.mountPoints().empty());
    fs::remove_all(dir / "volume/ORVEX.app");
    EXPECT_EQ(installFailure(), failed + "в образе нет приложения");
    EXPECT_TRUE(tools.mountPoints().empty());
    prepareImage("1.5.0");
    tools.failAt("ditto", 1);
    std::string failure = installFailure();
    std::string copyCall = tools.calls("ditto").at(0);
    EXPECT_EQ(failure, failed + "не удалось распаковать: ditto: " + copyCall.substr(copyCall.rfind(' ') + 1) +
                           ": No space left on device");
    EXPECT_EQ(UpdateChecker::bundleVersion(bundle), "1.4.0");
    tools.deny("ditto");
    auto refused = thrown<UpdateError>([&] { UpdateChecker::install(image, "1.5.0", bundle); }).value();
    EXPECT_EQ(refused.which(), UpdateError::Case::needsManualCopy);
    EXPECT_EQ(refused.payload(), image);
    EXPECT_TRUE(tools.mountPoints().empty());
    tools.deny("hdiutil", "attach");
    EXPECT_EQ(installFailure(),
              failed + "не удалось смонтировать образ: hdiutil: attach failed - Permission denied");
}

// Root may write anywhere, so the refusal is shown by a child that gave up root first.
TEST_F(UpdateFlow, AnUnwritableApplicationFolderNeedsAManualCopy) {
    prepareImage("1.5.0");
    for (const auto& entry : fs::recursive_directory_iterator(dir.path()))
        if (!entry.is_symlink())
            fs::permissions(entry.path(),
                            entry.path() == dir / "Applications" ? fs::perms(0555) : fs::perms::all);
    fs::permissions(dir.path(), fs::perms::all);
    pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
        try {
            UpdateChecker::install(image, "1.5.0", bundle);
        } catch (const UpdateError& error) {
            _exit(error.which() == UpdateError::Case::needsManualCopy && error.payload() == image ? 0 : 3);
        }
        _exit(4);
    }
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    EXPECT_EQ(UpdateChecker::bundleVersion(bundle), "1.4.0");
    EXPECT_TRUE(tools.mountPoints().empty());
    EXPECT_TRUE(tools.calls("ditto").empty());
}

TEST_F(UpdateFlow, InstallsThePackageWithOnePrompt) {
    fs::create_symlink(fixture("osascript"), dir / "usr/bin/osascript");
    std::string package = dir / "it's here/ORVEX-1.5.0.pkg";
    writeFile(package, "package");
    FakeMacTools::makeApplication(dir / "new/ORVEX.app", "1.5.0");
    tools.setPackageContents(dir / "new/ORVEX.app");
    EXPECT_EQ(UpdateChecker::installPackage(package, "1.5.0"), bundle);
    EXPECT_EQ(tools.calls("installer"), std::vector<std::string>{"installer -pkg " + package + " -target /"});
    EXPECT_EQ(tools.applicationRuns(), std::vector<std::string>{"-install-service"});
    FakeMacTools::makeApplication(dir / "new/ORVEX.app", "1.4.0", true, true);
    EXPECT_EQ(whatOf([&] { UpdateChecker::installPackage(package, "1.5.0"); }),
              "Не удалось установить обновление: установилась версия 1.4.0, а ожидалась 1.5.0");
    ScopedEnv cancel("FAKE_OSASCRIPT", "cancel");
    auto dismissed = thrown<ElevationError>([&] { UpdateChecker::installPackage(package, "1.5.0"); });
    EXPECT_EQ(dismissed.value().which(), ElevationError::Case::cancelled);
    EXPECT_EQ(tools.calls("installer").size(), 2u);
}

#include "Updater.h"

#include "ChildProcess.h"
#include "FakeMacTools.h"
#include "Log.h"
#include "Paths.h"
#include "TestSupport.h"
#include "UpdateChecker.h"
#include "UpdateMirrors.h"
#include "UpdaterError.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace orvex;
using namespace orvex::test;

namespace {

// The root service's machine: mirrors offering 1.5.0, the fake installation tools, and a
// package that installs an application of `packagedVersion`.
class ServiceUpdate : public ::testing::Test {
protected:
    TempDir dir;
    ScopedEnv root{"ORVEX_ROOT", dir.path()};
    ScopedEnv home{"HOME", dir / "home"};
    UpdateMirrors mirrors{dir.path()};
    FakeMacTools tools{dir.path()};
    std::unique_ptr<Log> log;

    void SetUp() override {
        writeFile(dir / "logs/logging.on", "");
        log = std::make_unique<Log>(dir / "logs", "service");
        mirrors.publish("1.5.0");
        package("1.5.0");
    }

    void package(const std::string& version) {
        fs::remove_all(dir / "package");
        FakeMacTools::makeApplication(dir / "package/ORVEX.app", version);
        tools.setPackageContents(dir / "package/ORVEX.app");
    }

    std::string failureOf(const std::string& version) {
        try {
            Updater::install(version, *log);
        } catch (const std::exception& error) {
            return error.what();
        }
        return {};
    }

    std::string logText() {
        log->flush();
        return readFile(log->filePath());
    }

    std::vector<std::string> updates() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(Paths::daemonHome() + "/updates"))
            names.push_back(entry.path().filename());
        return names;
    }
};

} // namespace

TEST_F(ServiceUpdate, InstallsTheRequestedVersionAndRestartsLater) {
    if (geteuid() != 0) GTEST_SKIP() << "the service's files belong to root";
    Updater::install("1.5.0", *log);
    EXPECT_EQ(UpdateChecker::bundleVersion(Paths::applicationBundle()), "1.5.0");
    EXPECT_EQ(readFile(Paths::daemonBinary()),
              readFile(Paths::applicationBundle() + "/Contents/MacOS/ORVEX"));
    EXPECT_TRUE(fs::exists(Paths::daemonHome() + "/engine/xray"));
    std::string package = Paths::daemonHome() + "/updates/ORVEX-1.5.0.pkg";
    EXPECT_EQ(tools.calls(), std::vector<std::string>{"installer -pkg " + package + " -target /"});
    EXPECT_TRUE(updates().empty());
    struct stat folder {};
    ASSERT_EQ(stat((Paths::daemonHome() + "/updates").c_str(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 07777, 0700u);
    EXPECT_EQ(folder.st_uid, 0u);
    std::string text = logText();
    size_t at = 0;
    for (const char* line :
         {"обновление: запрошена версия 1.5.0", "обновление: пакет скачан (ORVEX-1.5.0.pkg)",
          "обновление: приложение заменено, версия 1.5.0", "обновление: копия службы обновлена"}) {
        at = text.find(line, at);
        EXPECT_NE(at, std::string::npos) << line << " missing or out of order in\n" << text;
    }

    ChildProcess service = ChildProcess::spawn("/bin/sleep", {"60"});
    tools.setJobs({{"net.orvex.vpn",
                    {{"plist", Paths::daemonPlist()}, {"program", {"orvexd"}}, {"pid", service.pid()}}}});
    auto asked = std::chrono::steady_clock::now();
    Updater::restartServiceSoon(*log);
    EXPECT_TRUE(tools.calls("launchctl").empty());
    ASSERT_TRUE(service.waitFor(std::chrono::seconds(10)));
    auto delay = std::chrono::steady_clock::now() - asked;
    EXPECT_GE(delay, std::chrono::milliseconds(1400));
    EXPECT_LT(delay, std::chrono::seconds(5));
    EXPECT_EQ(tools.calls("launchctl"), std::vector<std::string>{"launchctl kill TERM system/net.orvex.vpn"});
    EXPECT_NE(logText().find("обновление: перезапускаю службу на новом коде"), std::string::npos);
}

TEST_F(ServiceUpdate, RefusesABadVersionTextBeforeAnyRequest) {
    for (const char* version :
         {"", "1.5.0a", "v1.5.0", "1.5 .0", "1,5", "1.2.3.4.5.6.7.8.9.10.11.12", "1.5.0-beta", "1.5.0\n"})
        EXPECT_EQ(failureOf(version), "недопустимый номер версии") << version;
    EXPECT_TRUE(mirrors.first().requests().empty());
    EXPECT_TRUE(mirrors.second().requests().empty());
    EXPECT_EQ(logText().find("обновление"), std::string::npos);

    // Digits of any script pass the text check; the manifest then decides.
    EXPECT_EQ(failureOf("\u0661.\u0665.\u0660"),
              "манифест предлагает версию 1.5.0, а запрошена \u0661.\u0665.\u0660");
    EXPECT_EQ(failureOf("111111111111.11111111111"),
              "манифест предлагает версию 1.5.0, а запрошена 111111111111.11111111111");
}

TEST_F(ServiceUpdate, FailsWithTheStepThatWentWrong) {
    EXPECT_EQ(failureOf("1.6.0"), "манифест предлагает версию 1.5.0, а запрошена 1.6.0");
    EXPECT_EQ(mirrors.first().requestCount(mirrors.packagePath("1.5.0")), 0u);

    mirrors.first().setManifest(UpdateMirrors::manifest("0.0.0", "https://cdn.example/x.dmg"));
    EXPECT_EQ(failureOf("1.5.0"), "манифест не содержит версии");
    mirrors.first().setAnswer(UpdateServer::manifestPath, FileAnswer{.status = 404});
    EXPECT_EQ(failureOf("1.5.0"),
              "манифест недоступен: Не удалось проверить обновления — сервер недоступен.");

    mirrors.publish("1.5.0");
    mirrors.first().setAnswer(mirrors.packagePath("1.5.0"), FileAnswer{.status = 404});
    EXPECT_EQ(failureOf("1.5.0"),
              "не удалось скачать пакет: Не удалось скачать обновление: сервер не отдал файл (код 404)");
    EXPECT_TRUE(tools.calls("installer").empty());

    mirrors.publish("1.5.0");
    tools.failAt("installer", 1);
    EXPECT_EQ(failureOf("1.5.0"),
              "установщик отказал: installer: The install failed. (The Installer encountered an "
              "error that caused the installation to fail. Contact the software manufacturer for "
              "assistance.)");
    EXPECT_TRUE(updates().empty());

    package("1.4.0");
    EXPECT_EQ(failureOf("1.5.0"), "установилась версия 1.4.0, а ожидалась 1.5.0");
    EXPECT_TRUE(updates().empty());
    EXPECT_FALSE(fs::exists(Paths::daemonBinary()));

    fs::remove(dir / "package/ORVEX.app/Contents/Info.plist");
    fs::remove_all(Paths::applicationBundle());
    EXPECT_EQ(failureOf("1.5.0"), "установщик отработал, но приложения в «Программах» нет");
    EXPECT_TRUE(updates().empty());
}

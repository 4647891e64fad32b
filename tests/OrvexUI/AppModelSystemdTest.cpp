// The model's service bootstrap under the Linux personality: the first connect's install
// through the fake pkexec and the real installer role, the service the fake systemctl starts
// answering, and the removal taking it all away again.
#include "AppModel.h"

#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <unistd.h>

#include "DaemonClient.h"
#include "Elevation.h"
#include "InstallerRun.h"
#include "ModelFakes.h"
#include "Paths.h"
#include "ScopeGuard.h"

namespace orvex {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::waitWithEvents;

TEST(ModelOnSystemd, InstallsTheServiceOnFirstNeedAndRemovesIt) {
    if (geteuid() != 0) GTEST_SKIP() << "installing the service gives files to root";
    test::ensureQtApplication();
    test::TempDir dir;
    test::ScopedEnv root("ORVEX_ROOT", dir.path());
    test::ScopedEnv home("HOME", dir / "home");
    test::ScopedEnv platform("ORVEX_PLATFORM", "linux");
    fs::create_directories(dir / "run/systemd/system");
    fs::create_directories(dir / "usr/bin");
    for (const char* tool : {"systemctl", "pkexec"})
        fs::create_symlink(test::fixture(tool), dir / ("usr/bin/" + std::string(tool)));
    std::string program = dir / "orvex/orvex";
    fs::create_directories(dir / "orvex");
    fs::copy_file(ORVEX_EXECUTABLE, program);
    test::ScopedEnv record("FAKE_PKEXEC_RECORD", dir / "pkexec-args");
    ScopeGuard stopService([&] { test::stopFakeUnits(dir.path()); });

    test::Desktop desktop;
    desktop.elevation = [&](const std::string& argument) { Elevation::runProgram(program, argument); };
    AppEnvironment env =
        test::environment(dir / "app", ServiceClient::system(), "http://127.0.0.1:9/", desktop);
    env.clock = Clock::system(); // the installed service takes real time to start listening
    AppModel model(env);

    auto ensured = std::async(std::launch::async, [&] { model.ensureDaemon(); });
    ASSERT_TRUE(waitWithEvents([&] { return ensured.wait_for(0s) == std::future_status::ready; }, 60s));
    ASSERT_NO_THROW(ensured.get()) << test::readFile(dir / "fake-linux/orvexd.service.out");
    EXPECT_EQ(test::readFile(dir / "pkexec-args"), program + "\n-install-service\n");
    EXPECT_TRUE(model.daemonInstalled());
    EXPECT_FALSE(model.notice().has_value());
    EXPECT_TRUE(fs::exists(Paths::daemonPlist()));
    EXPECT_TRUE(DaemonClient::isRunning());

    model.removeDaemon();
    ASSERT_TRUE(waitWithEvents([&] { return !model.busy(); }, 60s));
    EXPECT_EQ(test::readFile(dir / "pkexec-args"), program + "\n-uninstall-service\n");
    EXPECT_FALSE(model.daemonInstalled());
    EXPECT_FALSE(DaemonClient::isRunning());
    EXPECT_FALSE(fs::exists(Paths::daemonPlist()));
    EXPECT_FALSE(fs::exists(dir / "opt/orvex"));
}

} // namespace
} // namespace orvex

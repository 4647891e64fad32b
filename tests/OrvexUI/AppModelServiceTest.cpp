// The model against the real `orvex -service` under a scratch ORVEX_ROOT with the fake engines
// and network tools, the account-server fixture and, for updates, the mirrors and the fake
// installation tools.
#include "AppModel.h"

#include <QByteArray>

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

#include "APIServerFixture.h"
#include "FakeMacTools.h"
#include "ModelFakes.h"
#include "Paths.h"
#include "ServiceClient.h"
#include "ServiceMachine.h"
#include "TokenStore.h"
#include "UpdateMirrors.h"

namespace orvex {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::waitWithEvents;

// A signed-in device whose account server hands out a link the fake engines can serve.
class ModelOnService : public ::testing::Test {
protected:
    ModelOnService() : server_(servers_.start()) {
        test::ensureQtApplication();
        std::string link = test::ServiceMachine::link() + "\n";
        server_->setOverride("/api/config",
                             {.body = R"({"subscription":")" + QByteArray::fromStdString(link).toBase64().toStdString() +
                                      R"(","server_name":"Нидерланды"})"});
        TokenStore::save(server_->token(), *desktop_.keychain);
        test::writeFile(Paths::daemonPlist(), "job");
        test::writeFile(machine_.root() + "/logs/logging.on", "");
        env_ = test::environment(machine_.root(), ServiceClient::system(), server_->baseURL(), desktop_);
    }

    std::string appLog(AppModel& model) {
        model.log().flush();
        return test::readFile(model.log().filePath());
    }

    test::ServiceMachine machine_;
    test::APIServerFixture servers_;
    std::unique_ptr<test::AccountServer> server_;
    test::Desktop desktop_;
    AppEnvironment env_;
};

TEST_F(ModelOnService, ConnectsReconnectsAfterAnEngineCrashAndAnnouncesTheBlockOnce) {
    machine_.start();
    AppModel model(env_);
    model.reload();
    model.startPolling();
    ASSERT_TRUE(waitWithEvents([&] { return !model.servers().empty(); }));
    model.setKillSwitch(true);
    ASSERT_TRUE(waitWithEvents([&] { return !model.busy(); }));
    model.toggleConnection();
    ASSERT_TRUE(waitWithEvents([&] { return !model.busy(); }, 30s));
    ASSERT_EQ(model.status().state, TunnelState::connected) << model.message().value_or("") << machine_.log();
    EXPECT_EQ(model.status().serverName, "Нидерланды");

    // The health monitor brings the tunnel back; the poll shows it without any action.
    auto engines = machine_.enginePids("xray");
    ASSERT_EQ(engines.size(), 1u);
    ::kill(engines.front(), SIGKILL);
    ASSERT_TRUE(waitWithEvents([&] { return model.status().state != TunnelState::connected; }, 30s));
    ASSERT_TRUE(waitWithEvents([&] { return model.status().state == TunnelState::connected; }, 60s))
        << machine_.log();
    EXPECT_TRUE(desktop_.centre->posted.empty());

    // Every reconnect now fails: the kill switch holds traffic, and the user hears of it once.
    machine_.setEngineBehaviour("xray", "exit");
    ::kill(machine_.enginePids("xray").front(), SIGKILL);
    ASSERT_TRUE(waitWithEvents([&] { return model.status().killSwitchHold; }, 120s)) << machine_.log();
    waitWithEvents([] { return false; }, 3s); // a few more polls in the same state
    ASSERT_EQ(desktop_.centre->posted.size(), 1u);
    EXPECT_EQ(desktop_.centre->posted[0].title, "Трафик заблокирован");

    // Lifting the block disconnects; the kill switch stays on.
    model.unblock();
    ASSERT_TRUE(waitWithEvents([&] { return !model.busy(); }, 30s));
    EXPECT_FALSE(model.status().killSwitchHold);
    EXPECT_TRUE(model.status().killSwitchEnabled);
    model.stopPolling();
}

// The service refuses (its installer fails), the package path fails the same way, and the
// image path installs; each way is tried once, in that order.
TEST_F(ModelOnService, AnUpdateFallsFromTheServiceToThePackageToTheImage) {
    if (geteuid() != 0) GTEST_SKIP() << "the service's files belong to root";
    std::string root = machine_.root();
    test::ScopedEnv temporary("TMPDIR", root + "/tmp");
    fs::create_directories(root + "/tmp");
    test::UpdateMirrors mirrors(root);
    test::FakeMacTools tools(root);
    fs::create_directories(root + "/usr/bin");
    fs::create_symlink(test::fixture("osascript"), root + "/usr/bin/osascript");
    mirrors.publish("1.5.0");
    test::FakeMacTools::makeApplication(root + "/new/ORVEX.app", "1.5.0");
    tools.setPackageContents(root + "/new/ORVEX.app");
    tools.setImageContents(root + "/new", "ORVEX 1.5.0");
    tools.failAt("installer", 1);
    tools.failAt("installer", 2);
    machine_.start();

    std::vector<std::string> prompts;
    desktop_.journal = [&](const std::string& entry) { prompts.push_back(entry); };
    AppModel model(env_);
    model.checkUpdate();
    ASSERT_TRUE(waitWithEvents([&] { return !model.busy(); }, 30s));
    ASSERT_TRUE(model.update().has_value()) << model.message().value_or("");
    model.installUpdate();
    ASSERT_TRUE(waitWithEvents([&] { return !model.busy(); }, 120s));

    EXPECT_EQ(model.message(), "Версия 1.5.0 установлена. Перезапустите ORVEX.");
    EXPECT_TRUE(model.updateReady());
    EXPECT_FALSE(model.updateProgress().has_value());
    EXPECT_EQ(tools.calls("installer").size(), 2u);
    EXPECT_EQ(prompts, std::vector<std::string>{"elevate -install-service"});
    std::string log = appLog(model);
    EXPECT_NE(log.find("служба не поставила обновление (установщик отказал"), std::string::npos) << log;
    EXPECT_NE(log.find("установщик не сработал ("), std::string::npos) << log;
    EXPECT_NE(log.find("обновление установлено из образа: 1.5.0 в " + root + "/Applications/ORVEX.app"),
              std::string::npos)
        << log;
}

} // namespace
} // namespace orvex

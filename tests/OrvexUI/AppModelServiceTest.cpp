// The model against the real `orvex -service` under a scratch ORVEX_ROOT with the fake system
// tools, the update mirrors and the fake installation tools.
#include "AppModel.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "FakeMacTools.h"
#include "ModelFakes.h"
#include "Paths.h"
#include "ServiceMachine.h"
#include "UpdateMirrors.h"

namespace orvex {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::waitWithEvents;

// The service refuses (its installer fails), the package path fails the same way, and the
// image path installs; each way is tried once, in that order.
TEST(ModelOnService, AnUpdateFallsFromTheServiceToThePackageToTheImage) {
    if (geteuid() != 0) GTEST_SKIP() << "the service's files belong to root";
    test::ensureQtApplication();
    test::ServiceMachine machine;
    test::Desktop desktop; // before the mirrors, whose addresses it would hide
    const std::string root = machine.root();
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
    test::writeFile(Paths::daemonPlist(), "job");
    test::writeFile(root + "/logs/logging.on", "");
    machine.start();

    std::vector<std::string> prompts;
    desktop.journal = [&](const std::string& entry) { prompts.push_back(entry); };
    AppModel model(test::environment(root, ServiceClient::system(), "https://127.0.0.1:9/", desktop));
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
    model.log().flush();
    std::string log = test::readFile(model.log().filePath());
    for (const std::string& line :
         {std::string("служба не поставила обновление (установщик отказал"),
          std::string("установщик не сработал ("),
          "обновление установлено из образа: 1.5.0 в " + root + "/Applications/ORVEX.app"})
        EXPECT_NE(log.find(line), std::string::npos) << log;
}

} // namespace
} // namespace orvex

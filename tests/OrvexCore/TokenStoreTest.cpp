#include "TokenStore.h"

#include <csignal>
#include <filesystem>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "MemoryKeychain.h"
#include "ScopeGuard.h"
#include "TestSupport.h"

extern char** environ;

using namespace orvex;

namespace {

const std::string service = "ORVEX VPN";
const std::string account = "app-token";

// A keychain that refuses every new item, as a locked or full one does.
class RefusingKeychain : public MemoryKeychain {
public:
    bool add(const std::string&, const std::string&, const std::string&, Access) override { return false; }
};

unsigned modeOf(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) return 0;
    return status.st_mode & 07777;
}

// Points the system keychain at a private home with no session bus, so that it keeps the
// token in its file.
struct IsolatedUser {
    test::TempDir dir;
    test::ScopedEnv home{"HOME", dir / "home"};
    test::ScopedEnv config{"XDG_CONFIG_HOME", dir / "config"};
    test::ScopedEnv runtime{"XDG_RUNTIME_DIR", dir.path()};
    test::ScopedEnv bus{"DBUS_SESSION_BUS_ADDRESS", std::nullopt};
    std::string tokenFile() const { return dir / "config/orvex/app-token"; }
};

} // namespace

TEST(TokenStore, SaveLoadReplaceAndClear) {
    MemoryKeychain keychain;
    EXPECT_FALSE(TokenStore::load(keychain));
    EXPECT_FALSE(TokenStore::isLinked(keychain));

    EXPECT_TRUE(TokenStore::save("tok-1", keychain));
    EXPECT_EQ(TokenStore::load(keychain), "tok-1");
    EXPECT_EQ(keychain.access(service, account), Keychain::Access::anyApplication);
    EXPECT_TRUE(TokenStore::save("токен-2", keychain));
    EXPECT_EQ(TokenStore::load(keychain), "токен-2");
    EXPECT_TRUE(TokenStore::isLinked(keychain));

    // Saving the empty text deletes the item and still succeeds.
    EXPECT_TRUE(TokenStore::save("", keychain));
    EXPECT_FALSE(keychain.read(service, account));
    EXPECT_FALSE(TokenStore::isLinked(keychain));

    TokenStore::save("tok-3", keychain);
    TokenStore::clear(keychain);
    EXPECT_FALSE(TokenStore::load(keychain));
    TokenStore::clear(keychain);

    // Bytes that are not UTF-8, and an empty item, read as no token.
    keychain.add(service, account, "ab\xff", Keychain::Access::thisDeviceOnly);
    EXPECT_FALSE(TokenStore::load(keychain));
    EXPECT_FALSE(TokenStore::isLinked(keychain));
    keychain.remove(service, account);
    keychain.add(service, account, "", Keychain::Access::thisDeviceOnly);
    EXPECT_FALSE(TokenStore::load(keychain));
}

TEST(TokenStore, FallsBackToDeviceOnlyAccessAndNeverKeepsAnOldToken) {
    MemoryKeychain keychain;
    keychain.refuseAnyApplicationAccess(true);
    EXPECT_TRUE(TokenStore::save("tok", keychain));
    EXPECT_EQ(TokenStore::load(keychain), "tok");
    EXPECT_EQ(keychain.access(service, account), Keychain::Access::thisDeviceOnly);

    RefusingKeychain refusing;
    refusing.MemoryKeychain::add(service, account, "old", Keychain::Access::anyApplication);
    EXPECT_FALSE(TokenStore::save("new", refusing));
    EXPECT_FALSE(TokenStore::load(refusing));
}

TEST(TokenStore, RelaxAccessOnceResavesOnlyOnce) {
    MemoryKeychain keychain;
    keychain.add(service, account, "old-item", Keychain::Access::thisDeviceOnly);
    TokenStore::relaxAccessOnce(keychain);
    EXPECT_EQ(keychain.additions(), 2);
    EXPECT_EQ(keychain.access(service, account), Keychain::Access::anyApplication);
    TokenStore::relaxAccessOnce(keychain);
    EXPECT_EQ(keychain.additions(), 2);
    EXPECT_EQ(TokenStore::load(keychain), "old-item");
}

TEST(TokenStore, FileFallbackWithoutSessionBus) {
    IsolatedUser user;
    Keychain& keychain = Keychain::system();
    EXPECT_FALSE(TokenStore::load(keychain));

    ASSERT_TRUE(TokenStore::save("tok-1", keychain));
    EXPECT_EQ(test::readFile(user.tokenFile()), "tok-1");
    EXPECT_EQ(modeOf(user.tokenFile()), 0600u);
    EXPECT_EQ(modeOf(user.dir / "config/orvex"), 0700u);
    EXPECT_EQ(TokenStore::load(keychain), "tok-1");

    // A file someone widened is replaced by a private one.
    chmod(user.tokenFile().c_str(), 0644);
    ASSERT_TRUE(TokenStore::save("tok-2", keychain));
    EXPECT_EQ(modeOf(user.tokenFile()), 0600u);
    EXPECT_EQ(TokenStore::load(keychain), "tok-2");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(user.dir / "config/orvex"),
                            std::filesystem::directory_iterator{}),
              1);

    test::writeFile(user.tokenFile(), "\xc3\x28", 0600);
    EXPECT_FALSE(TokenStore::load(keychain));

    TokenStore::clear(keychain);
    EXPECT_FALSE(std::filesystem::exists(user.tokenFile()));
    EXPECT_FALSE(TokenStore::isLinked(keychain));
    EXPECT_TRUE(TokenStore::save("", keychain));
    EXPECT_FALSE(std::filesystem::exists(user.tokenFile()));

    // Without an absolute XDG_CONFIG_HOME the file goes under the home folder.
    test::ScopedEnv relative("XDG_CONFIG_HOME", "config");
    ASSERT_TRUE(TokenStore::save("tok-3", keychain));
    EXPECT_EQ(test::readFile(user.dir / "home/.config/orvex/app-token"), "tok-3");
    EXPECT_FALSE(std::filesystem::exists(user.tokenFile()));
}

// A session bus on which no Secret Service runs: the store must notice at once and use the
// file, not wait for a service that never answers.
TEST(TokenStore, FileFallbackWhenNoSecretServiceAnswers) {
    IsolatedUser user;
    std::string socket = user.dir / "bus";
    test::writeFile(user.dir / "bus.conf",
                    "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
                    "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                    "<busconfig><type>session</type><listen>unix:path=" +
                        socket +
                        "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                        "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                        "<allow own=\"*\"/></policy></busconfig>\n");
    std::string config = "--config-file=" + user.dir / "bus.conf";
    std::vector<char*> argv = {const_cast<char*>("dbus-daemon"), config.data(), const_cast<char*>("--nofork"),
                               nullptr};
    pid_t daemon = 0;
    ASSERT_EQ(posix_spawnp(&daemon, "dbus-daemon", nullptr, nullptr, argv.data(), environ), 0);
    ScopeGuard stop([daemon] {
        kill(daemon, SIGTERM);
        waitpid(daemon, nullptr, 0);
    });
    ASSERT_TRUE(test::waitUntil([&] { return std::filesystem::exists(socket); }));
    test::ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + socket);

    auto started = std::chrono::steady_clock::now();
    Keychain& keychain = Keychain::system();
    ASSERT_TRUE(TokenStore::save("tok-bus", keychain));
    EXPECT_EQ(TokenStore::load(keychain), "tok-bus");
    EXPECT_EQ(test::readFile(user.tokenFile()), "tok-bus");
    TokenStore::clear(keychain);
    EXPECT_FALSE(TokenStore::isLinked(keychain));
    // A D-Bus call that waits for an answer gives up only after 25 seconds.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
}

#include "TokenStore.h"

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "ChildProcess.h"
#include "MemoryKeychain.h"
#include "Shell.h"
#include "TestSupport.h"

using namespace orvex;
namespace fs = std::filesystem;

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
    return stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
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

// The account flows of the interface save, load and clear the token in a memory keychain; here
// is what they never meet.
TEST(TokenStore, FallsBackToThisDeviceButNeverKeepsAnOldOrBrokenToken) {
    MemoryKeychain keychain;
    EXPECT_TRUE(TokenStore::save("tok-1", keychain));
    EXPECT_EQ(keychain.access(service, account), Keychain::Access::anyApplication);
    // Saving the empty text deletes the item and still succeeds.
    EXPECT_TRUE(TokenStore::save("", keychain));
    EXPECT_FALSE(keychain.read(service, account) || TokenStore::isLinked(keychain));
    // Bytes that are not UTF-8, and an empty item, read as no token.
    for (const char* stored : {"ab\xff", ""}) {
        keychain.remove(service, account);
        keychain.add(service, account, stored, Keychain::Access::thisDeviceOnly);
        EXPECT_FALSE(TokenStore::load(keychain) || TokenStore::isLinked(keychain));
    }
    // A keychain that refuses access for any application gets the item for this device only.
    keychain.remove(service, account);
    keychain.refuseAnyApplicationAccess(true);
    EXPECT_TRUE(TokenStore::save("tok", keychain));
    EXPECT_EQ(TokenStore::load(keychain), "tok");
    EXPECT_EQ(keychain.access(service, account), Keychain::Access::thisDeviceOnly);
    RefusingKeychain refusing;
    refusing.MemoryKeychain::add(service, account, "old", Keychain::Access::anyApplication);
    EXPECT_FALSE(TokenStore::save("new", refusing) || TokenStore::load(refusing));
    // An item kept for this device only is saved again, once, for any application.
    MemoryKeychain older;
    older.add(service, account, "old-item", Keychain::Access::thisDeviceOnly);
    for (int i = 0; i < 2; ++i) TokenStore::relaxAccessOnce(older);
    EXPECT_EQ(older.additions(), 2);
    EXPECT_EQ(older.access(service, account), Keychain::Access::anyApplication);
    EXPECT_EQ(TokenStore::load(older), "old-item");
}

TEST(TokenStore, FileFallbackWithoutSessionBus) {
    IsolatedUser user;
    Keychain& keychain = Keychain::system();
    ASSERT_TRUE(TokenStore::save("tok-1", keychain));
    EXPECT_EQ(modeOf(user.dir / "config/orvex"), 0700u);
    // A file someone widened is replaced by a private one, and nothing else is left beside it.
    chmod(user.tokenFile().c_str(), 0644);
    ASSERT_TRUE(TokenStore::save("tok-2", keychain));
    EXPECT_EQ(modeOf(user.tokenFile()), 0600u);
    EXPECT_EQ(test::readFile(user.tokenFile()), "tok-2");
    EXPECT_EQ(TokenStore::load(keychain), "tok-2");
    EXPECT_EQ(std::distance(fs::directory_iterator(user.dir / "config/orvex"), fs::directory_iterator{}), 1);
    test::writeFile(user.tokenFile(), "\xc3\x28", 0600);
    EXPECT_FALSE(TokenStore::load(keychain));
    TokenStore::clear(keychain);
    EXPECT_FALSE(fs::exists(user.tokenFile()) || TokenStore::isLinked(keychain));
    // Without an absolute XDG_CONFIG_HOME the file goes under the home folder.
    test::ScopedEnv relative("XDG_CONFIG_HOME", "config");
    ASSERT_TRUE(TokenStore::save("tok-3", keychain));
    EXPECT_EQ(test::readFile(user.dir / "home/.config/orvex/app-token"), "tok-3");
}

// A Secret Service that is not running yet (at login, or not installed) must be noticed at
// once and the file used; once one answers (a private, unlocked GNOME Keyring here) the token
// goes there and the file is removed. One test, as libsecret keeps its bus for the process.
TEST(TokenStore, SecretServiceOnAPrivateBus) {
    IsolatedUser user;
    test::ScopedEnv data("XDG_DATA_HOME", user.dir / "data");
    const std::string socket = user.dir / "bus"; // a session bus with no services to activate
    test::writeFile(user.dir / "bus.conf",
                    "<busconfig><type>session</type><listen>unix:path=" + socket +
                        "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                        "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                        "<allow own=\"*\"/></policy></busconfig>\n");
    ChildProcess::Options quiet;
    quiet.error = ChildProcess::Redirect::toFile(user.dir / "bus.log");
    auto bus = ChildProcess::spawn("/usr/bin/dbus-daemon",
                                   {"--config-file=" + user.dir / "bus.conf", "--nofork"}, quiet);
    ASSERT_TRUE(test::waitUntil([&] { return fs::exists(socket); }));
    test::ScopedEnv address("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + socket);
    Keychain& keychain = Keychain::system();
    auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(TokenStore::save("tok-file", keychain));
    EXPECT_EQ(test::readFile(user.tokenFile()), "tok-file");
    // A D-Bus call that waits for an answer gives up only after 25 seconds.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    const std::string keyring = "/usr/bin/gnome-keyring-daemon";
    if (access(keyring.c_str(), X_OK) != 0) GTEST_SKIP() << "gnome-keyring is not installed";
    // The daemon reads the password that creates and unlocks its login keyring from stdin.
    test::writeFile(user.dir / "password", "keyring-password", 0600);
    auto daemon = ChildProcess::spawn(
        "/bin/sh", {"-c", "exec \"$0\" --foreground --components=secrets --unlock < \"$1\"", keyring,
                    user.dir / "password"});
    ASSERT_TRUE(test::waitUntil([] {
        return Shell::run("/usr/bin/dbus-send",
                          {"--session", "--print-reply", "--dest=org.freedesktop.DBus",
                           "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
                           "string:org.freedesktop.secrets"},
                          5)
                   .output.find("boolean true") != std::string::npos;
    }));
    EXPECT_EQ(TokenStore::load(keychain), "tok-file"); // saved while no service ran
    for (const char* token : {"tok-keyring", "tok-keyring-2"}) {
        ASSERT_TRUE(TokenStore::save(token, keychain));
        EXPECT_FALSE(fs::exists(user.tokenFile()));
        EXPECT_EQ(TokenStore::load(keychain), token);
    }
    TokenStore::clear(keychain);
    EXPECT_FALSE(TokenStore::load(keychain));
}

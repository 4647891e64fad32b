// The real executable, run as a child: roles, exit statuses and the standard streams.
#include <filesystem>
#include <gtest/gtest.h>
#include <plist/plist.h>

#include "ChildProcess.h"
#include "TestSupport.h"

using namespace orvex;
namespace fs = std::filesystem;

namespace {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

Outcome runOrvex(const std::string& program, const std::string& arguments) {
    test::TempDir dir;
    std::string command =
        "'" + program + "' " + arguments + " >'" + (dir / "out") + "' 2>'" + (dir / "err") + "'";
    int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, test::readFile(dir / "out"), test::readFile(dir / "err")};
}

// An Info.plist whose version key holds `version` (taken over by the dictionary).
void writeInfoPlist(const std::string& path, plist_t version, bool binary) {
    plist_t dict = plist_new_dict();
    plist_dict_set_item(dict, "CFBundleShortVersionString", version);
    char* data = nullptr;
    uint32_t length = 0;
    if (binary)
        plist_to_bin(dict, &data, &length);
    else
        plist_to_xml(dict, &data, &length);
    test::writeFile(path, std::string(data, length));
    free(data);
    plist_free(dict);
}

} // namespace

TEST(Entry, VersionOutsideABundleIsDevAndIgnoresFurtherArguments) {
    auto outcome = runOrvex(ORVEX_EXECUTABLE, "-version");
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, "0.0.0-dev\n");
    EXPECT_EQ(outcome.err, "");
    outcome = runOrvex(ORVEX_EXECUTABLE, "-version extra -service");
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, "0.0.0-dev\n");
}

TEST(Entry, VersionComesFromTheBundleInfoPlist) {
    test::TempDir dir;
    std::string contents = dir / "ORVEX.app/Contents";
    fs::create_directories(contents + "/MacOS");
    fs::copy_file(ORVEX_EXECUTABLE, contents + "/MacOS/ORVEX");
    for (bool binary : {false, true}) {
        writeInfoPlist(contents + "/Info.plist", plist_new_string(binary ? "2.4.1" : "2.4.0"), binary);
        // Started through a symbolic link, the program still finds its own bundle.
        fs::remove(dir / "link");
        fs::create_symlink(contents + "/MacOS/ORVEX", dir / "link");
        auto outcome = runOrvex(dir / "link", "-version");
        EXPECT_EQ(outcome.out, binary ? "2.4.1\n" : "2.4.0\n");
    }
    // A key that is not a text, or a file that is no property list, falls back.
    writeInfoPlist(contents + "/Info.plist", plist_new_uint(3), false);
    EXPECT_EQ(runOrvex(contents + "/MacOS/ORVEX", "-version").out, "0.0.0-dev\n");
    test::writeFile(contents + "/Info.plist", "not a plist");
    EXPECT_EQ(runOrvex(contents + "/MacOS/ORVEX", "-version").out, "0.0.0-dev\n");
}

// With the application already running, every other start is the application's too: it hands
// over to the running one and ends at once, printing nothing.
TEST(Entry, AnythingElseStartsTheApplication) {
    test::TempDir dir;
    test::ScopedEnv root("ORVEX_ROOT", dir.path());
    test::ScopedEnv home("HOME", dir / "home");
    test::ScopedEnv display("QT_QPA_PLATFORM", "offscreen");
    test::ScopedEnv mirrors("ORVEX_UPDATE_MIRRORS", "https://127.0.0.1:9/,https://127.0.0.1:9/");
    ChildProcess first = ChildProcess::spawn(ORVEX_EXECUTABLE, {});
    ASSERT_TRUE(test::waitUntil([&] {
        for (const auto& entry : fs::recursive_directory_iterator(dir.path()))
            if (entry.is_socket() && entry.path().filename().string().starts_with("net.orvex.app-"))
                return true;
        return false;
    })) << "the first start never began listening";
    // Matching is exact: a role in other letter case is the application's, not the service's.
    for (std::string role : {"-Service", "-VERSION", "", "--service", "orvexvpn://update"}) {
        auto outcome = runOrvex(ORVEX_EXECUTABLE, role);
        EXPECT_EQ(outcome.status, 0) << role;
        EXPECT_EQ(outcome.out, "") << role;
    }
    EXPECT_TRUE(first.running());
}

TEST(Entry, AFailingInstallerLeavesOneLineOnStandardError) {
    test::TempDir root;
    test::ScopedEnv relocated("ORVEX_ROOT", root.path());
    // Beside the build's executable there is no engine folder to install.
    auto outcome = runOrvex(ORVEX_EXECUTABLE, "-install-service");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, "не найден движок рядом с приложением: " +
                               (fs::path(ORVEX_EXECUTABLE).parent_path() / "engine").string() + "\n");
}

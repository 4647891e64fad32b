// The real executable, run as a child: roles, exit statuses and the standard streams. Every
// other start is the application's, followed by the interface's own tests.
#include <filesystem>
#include <gtest/gtest.h>
#include <plist/plist.h>

#include "TestSupport.h"

using namespace orvex;
namespace fs = std::filesystem;

namespace {

struct Outcome {
    int status;
    std::string out, err;
    bool operator==(const Outcome&) const = default;
    friend std::ostream& operator<<(std::ostream& o, const Outcome& run) {
        return o << run.status << " [" << run.out << "] [" << run.err << "]";
    }
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

TEST(Entry, VersionAndInstallerRolesAnswerOnTheirStreams) {
    for (const char* arguments : {"-version", "-version extra -service"})
        EXPECT_EQ(runOrvex(ORVEX_EXECUTABLE, arguments), (Outcome{0, "0.0.0-dev\n", ""})) << arguments;
    {
        // Beside the build's executable there is no engine folder to install: one line on
        // standard error.
        test::TempDir root;
        test::ScopedEnv relocated("ORVEX_ROOT", root.path());
        std::string engine = fs::path(ORVEX_EXECUTABLE).parent_path() / "engine";
        EXPECT_EQ(runOrvex(ORVEX_EXECUTABLE, "-install-service"),
                  (Outcome{1, "", "не найден движок рядом с приложением: " + engine + "\n"}));
    }
    test::TempDir dir;
    std::string contents = dir / "ORVEX.app/Contents";
    fs::create_directories(contents + "/MacOS");
    fs::copy_file(ORVEX_EXECUTABLE, contents + "/MacOS/ORVEX");
    // Started through a symbolic link, the program still finds its own bundle.
    fs::create_symlink(contents + "/MacOS/ORVEX", dir / "link");
    for (bool binary : {false, true}) {
        writeInfoPlist(contents + "/Info.plist", plist_new_string(binary ? "2.4.1" : "2.4.0"), binary);
        EXPECT_EQ(runOrvex(dir / "link", "-version").out, binary ? "2.4.1\n" : "2.4.0\n");
    }
    // A key that is not a text, or a file that is no property list, falls back.
    writeInfoPlist(contents + "/Info.plist", plist_new_uint(3), false);
    EXPECT_EQ(runOrvex(contents + "/MacOS/ORVEX", "-version").out, "0.0.0-dev\n");
    test::writeFile(contents + "/Info.plist", "not a plist");
    EXPECT_EQ(runOrvex(contents + "/MacOS/ORVEX", "-version").out, "0.0.0-dev\n");
}

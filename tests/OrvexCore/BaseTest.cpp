// Where ORVEX keeps its files and how it logs.
#include "Config.h"
#include "Log.h"
#include "Paths.h"
#include "Platform.h"
#include "TestSupport.h"

#include <ctime>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

using namespace orvex;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) out.push_back(line);
    return out;
}

} // namespace

// A location of each kind under both personalities, bare and with ORVEX_ROOT and the XDG
// folders set.
// System locations move under the root; the user's own follow HOME and the XDG folders.
TEST(Paths, EveryLocationOfBothPersonalities) {
    struct Row {
        const char* name;
        std::function<std::string()> location;
        std::string macos, linux, macosMoved = "", linuxMoved = ""; // empty: the bare one under /tmp/o
    };
    const std::string home = "/home/anna";
    auto platform = [](std::string Platform::*field) {
        return [field] { return Platform::current().*field; };
    };
    const std::vector<Row> rows{
        {"socket", Paths::socket, "/var/run/orvex-vpn.sock", "/run/orvex-vpn.sock"},
        {"service state", Paths::daemonStateDir, "/Library/Logs/ORVEX", "/var/lib/orvex"},
        {"service logs", Paths::daemonLogDir, "/Library/Logs/ORVEX", "/var/log/orvex"},
        {"application logs", Paths::appLogDir, home + "/Library/Logs/ORVEX", home + "/.local/state/orvex/log",
         home + "/Library/Logs/ORVEX", "/x/state/orvex/log"},
        {"application data", Paths::appSupportDir, home + "/Library/Application Support/ORVEX",
         home + "/.local/share/orvex", home + "/Library/Application Support/ORVEX", "/x/data/orvex"},
        {"widget files", Paths::sharedDir, "/Users/Shared/ORVEX", home + "/.local/state/orvex/widget", "",
         "/x/state/orvex/widget"},
        {"widget folder mode",
         [] { return (std::ostringstream() << std::oct << Paths::sharedDirMode()).str(); }, "777", "700",
         "777", "700"},
        {"ping", platform(&Platform::pingProgram), "/sbin/ping", "/usr/bin/ping"},
        {"system engine", platform(&Platform::systemEngine), "", "/usr/bin/v2ray", "",
         "/tmp/o/usr/bin/v2ray"},
    };
    test::ScopedEnv user("HOME", home);
    for (const char* platformName : {"macos", "linux"}) {
        test::ScopedEnv chosen("ORVEX_PLATFORM", platformName);
        bool onMac = std::string(platformName) == "macos";
        for (bool moved : {false, true}) {
            test::ScopedEnv root("ORVEX_ROOT", moved ? std::optional<std::string>("/tmp/o/") : std::nullopt);
            // A relative XDG folder is no folder at all: the default stands.
            test::ScopedEnv state("XDG_STATE_HOME", moved ? "/x/state" : "x/state");
            test::ScopedEnv data("XDG_DATA_HOME",
                                 moved ? std::optional<std::string>("/x/data") : std::nullopt);
            for (const Row& row : rows) {
                const std::string& bare = onMac ? row.macos : row.linux;
                const std::string& elsewhere = onMac ? row.macosMoved : row.linuxMoved;
                std::string expected = !moved                               ? bare
                                       : !elsewhere.empty() || bare.empty() ? elsewhere
                                                                            : "/tmp/o" + bare;
                EXPECT_EQ(row.location(), expected)
                    << row.name << ", " << platformName << (moved ? ", moved" : "");
            }
        }
    }
    // A relative root would scatter files around the working folder: ignored. So is a
    // personality nobody knows, which leaves the build's own.
    test::ScopedEnv root("ORVEX_ROOT", "relative/root");
    test::ScopedEnv chosen("ORVEX_PLATFORM", "windows");
    EXPECT_EQ(Paths::socket(), "/run/orvex-vpn.sock");
}

TEST(Paths, EngineDirAndProgramFolders) {
    test::TempDir dir;
    std::string app = dir / "ORVEX.app/Contents";
    fs::create_directories(app + "/Resources");
    test::writeFile(app + "/MacOS/ORVEX", "", 0755);
    EXPECT_EQ(Paths::engineDir(app + "/MacOS/ORVEX"), app + "/Resources/engine");
    std::string daemon = dir / "Library/Application Support/ORVEX";
    test::writeFile(daemon + "/orvexd", "", 0755);
    EXPECT_EQ(Paths::engineDir(daemon + "/orvexd"), daemon + "/engine");
    // Reached through a link elsewhere, the target's folder counts.
    fs::create_symlink(app + "/MacOS/ORVEX", dir / "orvex-link");
    EXPECT_EQ(Paths::engineDir(dir / "orvex-link"), app + "/Resources/engine");
    // ensureDir makes every level and never fails.
    Paths::ensureDir(dir / "a/b/c");
    Paths::ensureDir(dir / "a/b/c");
    EXPECT_TRUE(fs::is_directory(dir / "a/b/c"));
    EXPECT_NO_THROW(Paths::ensureDir(dir / "orvex-link/below"));
    EXPECT_TRUE(fs::path(Paths::executable()).is_absolute());
    EXPECT_EQ(fs::path(Paths::executable()).filename(), "core_base");
}

TEST(Config, EnvironmentOverridesBuiltInHosts) {
    test::ScopedEnv bases("ORVEX_API_BASES", " https://127.0.0.1:1/ , ,https://127.0.0.1:2/,https://h3/");
    EXPECT_EQ(Config::apiBases(),
              (std::vector<std::string>{"https://127.0.0.1:1/", "https://127.0.0.1:2/", "https://h3/"}));
    test::ScopedEnv unset("ORVEX_UPDATE_MIRRORS", std::nullopt);
    EXPECT_EQ(Config::updateMirrors().size(), 2u);
    test::ScopedEnv ca("ORVEX_CA_FILE", std::nullopt);
    EXPECT_EQ(Config::caFile(), "");
}

TEST(Log, WritesOnlyWhileSwitchedOnAndInCallOrder) {
    test::TempDir dir;
    std::string folder = dir / "Logs/ORVEX";
    {
        Log log(folder, "app");
        EXPECT_EQ(log.filePath(), folder + "/app.log");
        log.write("не записывается");
        log.setEnabled(false); // no flag file to remove: still fine
        EXPECT_FALSE(log.isEnabled() || Log::loadEnabled(folder) || fs::exists(log.filePath()));
        // Local time, not UTC: a fixed zone three hours east shows in the hour.
        test::ScopedEnv zone("TZ", "XYZ-3");
        tzset();
        log.setEnabled(true);
        EXPECT_TRUE(Log::loadEnabled(folder));
        std::time_t before = std::time(nullptr);
        log.write("привет");
        log.write(std::string("\xff\xfe", 2)); // not UTF-8: dropped, the file stays readable
        log.write("до выключения");
        log.setEnabled(false);
        log.write("после выключения");
        EXPECT_FALSE(log.isEnabled() || Log::loadEnabled(folder));
        std::string text = test::readFile(log.filePath());
        auto written = lines(text);
        ASSERT_EQ(written.size(), 2u);
        std::smatch match;
        ASSERT_TRUE(std::regex_match(
            written[0], match, std::regex(R"(\d{4}-\d\d-\d\d (\d\d):\d\d:\d\d\.\d{3} \[app\] привет)")));
        std::tm utc{};
        gmtime_r(&before, &utc);
        // The write came within seconds of `before`, so the hour differs by three (or by
        // three plus one across an hour boundary).
        int shift = (std::stoi(match[1].str()) - utc.tm_hour + 24) % 24;
        EXPECT_TRUE(shift == 3 || shift == 4) << written[0];
        EXPECT_TRUE(written[1].ends_with(" [app] до выключения"));
        EXPECT_EQ(text.back(), '\n');
    }
    tzset();
    // A new instance reads the switch from the flag file; the destructor writes what is queued.
    {
        Log log(folder, "service");
        log.setEnabled(true);
        for (int i = 0; i < 1000; ++i) log.write("строка " + std::to_string(i));
    }
    auto written = lines(test::readFile(folder + "/service.log"));
    ASSERT_EQ(written.size(), 1000u);
    EXPECT_TRUE(written.back().ends_with(" [service] строка 999"));
    EXPECT_TRUE(Log(folder, "service").isEnabled());
}

TEST(Log, TailKeepsTheLastBytesAndDropsOnlyACutCharacter) {
    test::TempDir dir;
    Log log(dir.path(), "app");
    EXPECT_EQ(log.tail(20000), ""); // missing file
    std::string ascii;
    for (int i = 0; i < 50000; ++i) ascii += static_cast<char>('a' + i % 26);
    test::writeFile(log.filePath(), ascii);
    EXPECT_EQ(log.tail(20000), ascii.substr(30000));
    EXPECT_EQ(log.tail(100000), ascii);
    // "ж" is two bytes and "😀" four: a cut inside either loses just that character. Anything
    // else that is not UTF-8 gives the empty text, stray continuation bytes at the cut included.
    const std::tuple<const char*, size_t, const char*> cases[] = {
        {"жжжж", 5, "жж"},     {"жжжж", 4, "жж"},    {"a😀b", 4, "b"},
        {"a😀b", 2, "b"},       {"a😀b", 5, "😀b"},     {"ok \xff ok", 20000, ""},
        {"a\x80\x80z", 2, ""}, {"\xff\x80z", 2, ""}, {"\x80z", 10, ""}};
    for (const auto& [content, bytes, tail] : cases) {
        test::writeFile(log.filePath(), content);
        EXPECT_EQ(log.tail(bytes), tail) << content << " " << bytes;
    }
}

TEST(Log, TwoInstancesOnOneFileFromEightThreadsKeepLinesWholeAndOrdered) {
    test::TempDir dir;
    test::writeFile(dir / "logging.on", "");
    Log first(dir.path(), "app");
    Log second(dir.path(), "app");
    constexpr int threads = 8;
    constexpr int perThread = 400;
    const std::string padding(300, 'x'); // long lines make a torn write visible
    std::vector<std::thread> writers;
    for (int t = 0; t < threads; ++t)
        writers.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i)
                (t % 2 == 0 ? first : second)
                    .write("поток " + std::to_string(t) + " #" + std::to_string(i) + " " + padding);
        });
    for (auto& writer : writers) writer.join();
    // No waiting beyond these two calls: they return only once the burst is on disk.
    EXPECT_TRUE(first.isEnabled() && second.isEnabled());
    auto written = lines(test::readFile(first.filePath()));
    ASSERT_EQ(written.size(), static_cast<size_t>(threads * perThread));
    std::regex shape(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[app\] поток (\d) #(\d+) x{300})");
    std::map<int, int> next;
    for (const auto& line : written) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, shape)) << line;
        EXPECT_EQ(std::stoi(match[2].str()), next[std::stoi(match[1].str())]++) << "out of order: " << line;
    }
}

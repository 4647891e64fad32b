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

// System locations move under ORVEX_ROOT; the user's own follow HOME and the XDG folders,
// which count only when absolute. Each row: macOS, Linux, then both moved.
TEST(Paths, EveryLocationOfBothPersonalities) {
    const std::string h = "/home/anna";
    const std::pair<std::function<std::string()>, std::array<std::string, 4>> rows[] = {
        {Paths::socket,
         {"/var/run/orvex-vpn.sock", "/run/orvex-vpn.sock", "/o/var/run/orvex-vpn.sock",
          "/o/run/orvex-vpn.sock"}},
        {Paths::daemonStateDir,
         {"/Library/Logs/ORVEX", "/var/lib/orvex", "/o/Library/Logs/ORVEX", "/o/var/lib/orvex"}},
        {Paths::daemonLogDir,
         {"/Library/Logs/ORVEX", "/var/log/orvex", "/o/Library/Logs/ORVEX", "/o/var/log/orvex"}},
        {Paths::appLogDir,
         {h + "/Library/Logs/ORVEX", h + "/.local/state/orvex/log", h + "/Library/Logs/ORVEX",
          "/x/state/orvex/log"}},
        {Paths::appSupportDir,
         {h + "/Library/Application Support/ORVEX", h + "/.local/share/orvex",
          h + "/Library/Application Support/ORVEX", "/x/data/orvex"}},
        {Paths::sharedDir,
         {"/Users/Shared/ORVEX", h + "/.local/state/orvex/widget", "/o/Users/Shared/ORVEX",
          "/x/state/orvex/widget"}},
        {[] { return std::to_string(Paths::sharedDirMode()); }, {"511", "448", "511", "448"}}, // 0777, 0700
    };
    test::ScopedEnv user("HOME", h);
    for (int column = 0; column < 4; ++column) {
        test::ScopedEnv chosen("ORVEX_PLATFORM", column % 2 == 0 ? "macos" : "linux");
        bool moved = column >= 2;
        test::ScopedEnv root("ORVEX_ROOT", moved ? std::optional<std::string>("/o/") : std::nullopt);
        test::ScopedEnv state("XDG_STATE_HOME", moved ? "/x/state" : "x/state");
        test::ScopedEnv data("XDG_DATA_HOME", moved ? std::optional<std::string>("/x/data") : std::nullopt);
        for (const auto& [location, expected] : rows) EXPECT_EQ(location(), expected[column]) << column;
    }
    // A relative root would scatter files around the working folder: ignored. So is a
    // personality nobody knows, which leaves the build's own.
    test::ScopedEnv root("ORVEX_ROOT", "relative/root");
    test::ScopedEnv chosen("ORVEX_PLATFORM", "windows");
    EXPECT_EQ(Paths::socket(), "/run/orvex-vpn.sock");
}

TEST(Paths, EngineDirBesideTheProgramOrInTheBundle) {
    test::TempDir dir;
    std::string app = dir / "ORVEX.app/Contents";
    fs::create_directories(app + "/Resources");
    test::writeFile(app + "/MacOS/ORVEX", "", 0755);
    EXPECT_EQ(Paths::engineDir(app + "/MacOS/ORVEX"), app + "/Resources/engine");
    test::writeFile(dir / "service/orvexd", "", 0755);
    EXPECT_EQ(Paths::engineDir(dir / "service/orvexd"), dir / "service/engine");
    // Reached through a link elsewhere, the target's folder counts.
    fs::create_symlink(app + "/MacOS/ORVEX", dir / "orvex-link");
    EXPECT_EQ(Paths::engineDir(dir / "orvex-link"), app + "/Resources/engine");
    EXPECT_EQ(Paths::executable(), fs::canonical("/proc/self/exe"));
}

TEST(Config, EnvironmentOverridesBuiltInHosts) {
    test::ScopedEnv bases("ORVEX_API_BASES", " https://127.0.0.1:1/ , ,https://127.0.0.1:2/,https://h3/");
    EXPECT_EQ(Config::apiBases(),
              (std::vector<std::string>{"https://127.0.0.1:1/", "https://127.0.0.1:2/", "https://h3/"}));
}

TEST(Log, WritesOnlyWhileSwitchedOnAndInCallOrder) {
    test::TempDir dir;
    std::string folder = dir / "Logs/ORVEX";
    {
        Log log(folder, "app");
        log.write("не записывается");
        log.setEnabled(false); // no flag file to remove: still fine
        EXPECT_FALSE(log.isEnabled() || Log::loadEnabled(folder) || fs::exists(log.filePath()));
        // Local time, not UTC: a fixed zone three hours east shows in the hour.
        test::ScopedEnv zone("TZ", "XYZ-3");
        tzset();
        log.setEnabled(true);
        std::time_t before = std::time(nullptr);
        log.write("привет");
        log.write(std::string("\xff\xfe", 2)); // not UTF-8: dropped, the file stays readable
        log.setEnabled(false);
        log.write("после выключения");
        EXPECT_FALSE(log.isEnabled() || Log::loadEnabled(folder));
        std::string text = test::readFile(log.filePath());
        std::smatch match;
        ASSERT_TRUE(std::regex_match(
            text, match, std::regex(R"(\d{4}-\d\d-\d\d (\d\d):\d\d:\d\d\.\d{3} \[app\] привет\n)")))
            << text;
        std::tm utc{};
        gmtime_r(&before, &utc);
        int shift = (std::stoi(match[1].str()) - utc.tm_hour + 24) % 24;
        EXPECT_TRUE(shift == 3 || shift == 4) << text; // four across an hour boundary
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
    // "ж" is two bytes and "😀" four: a cut inside either loses just that character. Anything
    // else that is not UTF-8 gives the empty text, stray continuation bytes at the cut included.
    const std::tuple<const char*, size_t, const char*> cases[] = {
        {"abcdef", 4, "cdef"}, {"abc", 100, "abc"},     {"жжжж", 5, "жж"},     {"a😀b", 2, "b"},
        {"a😀b", 5, "😀b"},      {"ok \xff ok", 100, ""}, {"a\x80\x80z", 2, ""}, {"\x80z", 10, ""}};
    for (const auto& [content, bytes, tail] : cases) {
        test::writeFile(log.filePath(), content);
        EXPECT_EQ(log.tail(bytes), tail) << content << " " << bytes;
    }
}

// Long lines from eight threads through two instances make a torn or reordered write visible.
TEST(Log, TwoInstancesOnOneFileFromEightThreadsKeepLinesWholeAndOrdered) {
    test::TempDir dir;
    test::writeFile(dir / "logging.on", "");
    Log first(dir.path(), "app"), second(dir.path(), "app");
    std::vector<std::thread> writers;
    for (int t = 0; t < 8; ++t)
        writers.emplace_back([&, t] {
            for (int i = 0; i < 400; ++i)
                (t % 2 == 0 ? first : second)
                    .write(std::to_string(t) + " " + std::to_string(i) + std::string(300, 'x'));
        });
    for (auto& writer : writers) writer.join();
    EXPECT_TRUE(first.isEnabled() && second.isEnabled()); // these return once the burst is on disk
    auto written = lines(test::readFile(first.filePath()));
    ASSERT_EQ(written.size(), 8u * 400u);
    std::regex shape(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[app\] (\d) (\d+)x{300})");
    std::map<int, int> next;
    for (const auto& line : written) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, shape)) << line;
        EXPECT_EQ(std::stoi(match[2].str()), next[std::stoi(match[1].str())]++) << "out of order: " << line;
    }
}

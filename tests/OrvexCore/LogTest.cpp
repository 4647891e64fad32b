#include "Log.h"

#include <ctime>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "TestSupport.h"

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

TEST(Log, WritesOnlyWhileSwitchedOnAndInCallOrder) {
    test::TempDir dir;
    std::string folder = dir / "Logs/ORVEX";
    {
        Log log(folder, "app");
        EXPECT_TRUE(fs::is_directory(folder));
        EXPECT_EQ(log.filePath(), folder + "/app.log");
        log.write("не записывается");
        EXPECT_FALSE(log.isEnabled());
        EXPECT_FALSE(fs::exists(log.filePath()));
        log.setEnabled(false); // no flag file to remove: still fine
        EXPECT_FALSE(Log::loadEnabled(folder));

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
        EXPECT_FALSE(log.isEnabled());
        EXPECT_FALSE(Log::loadEnabled(folder));

        auto written = lines(test::readFile(log.filePath()));
        ASSERT_EQ(written.size(), 2u);
        std::smatch match;
        ASSERT_TRUE(std::regex_match(
            written[0], match,
            std::regex(R"((\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d)\.\d{3} \[app\] привет)")));
        std::tm utc{};
        gmtime_r(&before, &utc);
        int hour = std::stoi(match[4].str());
        // The write came within seconds of `before`, so the hour differs by three (or by
        // three plus one across an hour boundary).
        int shift = (hour - utc.tm_hour + 24) % 24;
        EXPECT_TRUE(shift == 3 || shift == 4) << written[0];
        EXPECT_TRUE(written[1].ends_with(" [app] до выключения"));
        EXPECT_EQ(test::readFile(log.filePath()).back(), '\n');
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
    Log reopened(folder, "service");
    EXPECT_TRUE(reopened.isEnabled());
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

    // "ж" is two bytes and "😀" four: a cut inside either loses just that character.
    test::writeFile(log.filePath(), "жжжж");
    EXPECT_EQ(log.tail(5), "жж");
    EXPECT_EQ(log.tail(4), "жж");
    test::writeFile(log.filePath(), "a😀b");
    EXPECT_EQ(log.tail(4), "b");
    EXPECT_EQ(log.tail(2), "b");
    EXPECT_EQ(log.tail(5), "😀b");

    // Anything else that is not UTF-8 still gives the empty text.
    test::writeFile(log.filePath(), "ok \xff ok");
    EXPECT_EQ(log.tail(20000), "");
    // Stray continuation bytes at the cut that belong to no character are not a cut character.
    test::writeFile(log.filePath(), "a\x80\x80z");
    EXPECT_EQ(log.tail(2), "");
    test::writeFile(log.filePath(), "\xff\x80z");
    EXPECT_EQ(log.tail(2), "");
    test::writeFile(log.filePath(), "\x80z"); // no cut at all: the whole file is simply invalid
    EXPECT_EQ(log.tail(10), "");
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
            Log& log = t % 2 == 0 ? first : second;
            for (int i = 0; i < perThread; ++i)
                log.write("поток " + std::to_string(t) + " #" + std::to_string(i) + " " + padding);
        });
    for (auto& writer : writers) writer.join();
    // No waiting beyond these two calls: they return only once the burst is on disk.
    EXPECT_TRUE(first.isEnabled());
    EXPECT_TRUE(second.isEnabled());

    auto written = lines(test::readFile(first.filePath()));
    ASSERT_EQ(written.size(), static_cast<size_t>(threads * perThread));
    std::regex shape(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[app\] поток (\d) #(\d+) x{300})");
    std::map<int, int> next;
    for (const auto& line : written) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, shape)) << line;
        int thread = std::stoi(match[1].str());
        EXPECT_EQ(std::stoi(match[2].str()), next[thread]++) << "out of order: " << line;
    }
}

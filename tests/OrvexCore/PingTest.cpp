#include "Ping.h"
#include "PingStat.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>

using namespace orvex;

TEST(PingStat, ParsesReplyTimes) {
    auto three = PingStat::parse(test::readFile(test::fixture("macos-output/ping-three-replies.txt")));
    EXPECT_EQ(three, (std::vector<int>{31, 29, 30}));
    EXPECT_EQ(PingStat::best(three), 29);

    auto lost = PingStat::parse(test::readFile(test::fixture("macos-output/ping-one-lost.txt")));
    EXPECT_EQ(lost, (std::vector<int>{45, 42}));
    EXPECT_EQ(PingStat::best(lost), 42);

    EXPECT_TRUE(PingStat::parse(test::readFile(test::fixture("macos-output/ping-no-reply.txt"))).empty());
    EXPECT_EQ(PingStat::best({}), -1);

    // Halves go away from zero; "<" counts; blanks may follow the sign; the marker is case-sensitive.
    EXPECT_EQ(PingStat::parse("time=12.5 ms time=0.5 time=2.49"), (std::vector<int>{13, 1, 2}));
    EXPECT_EQ(PingStat::parse("time<1 ms"), (std::vector<int>{1}));
    EXPECT_EQ(PingStat::parse("time= \t 7ms Time=3 TIME=3 time:3 time =3 time=x time=-4"),
              (std::vector<int>{7}));
    EXPECT_EQ(PingStat::parse("time=5.ms timetime=6 time=007.50"), (std::vector<int>{5, 6, 8}));
    // Values an int cannot hold are skipped rather than wrapped.
    EXPECT_EQ(PingStat::parse("time=99999999999999999999 time=3"), (std::vector<int>{3}));
    EXPECT_EQ(PingStat::parse("time=" + std::string(5000, '9') + " time=4"), (std::vector<int>{4}));

    EXPECT_EQ(PingStat::best({-1, 5, -3, 2, 9}), 2);
    EXPECT_EQ(PingStat::best({-1}), -1);
    EXPECT_EQ(PingStat::best({0, 4}), 0);

    for (const char* host : {"", "  ", "localhost", " LocalHost\t", "127.0.0.1", "::1", " ::1 "})
        EXPECT_FALSE(PingStat::isProbeHost(host)) << host;
    for (const char* host : {"example.net", "127.0.0.2", "::2", "localhost.example", "203.0.113.5"})
        EXPECT_TRUE(PingStat::isProbeHost(host)) << host;
}

TEST(Ping, RunsTheSystemToolAndTakesTheBestReply) {
    test::TempDir root;
    test::ScopedEnv relocated("ORVEX_ROOT", root.path());
    test::writeFile(root / "sbin/ping", test::readFile(test::fixture("ping")), 0755);
    auto chooseOutput = [](const std::string& name) {
        return test::ScopedEnv("ORVEX_FAKE_PING_OUTPUT", test::fixture("macos-output/" + name));
    };

    {
        auto output = chooseOutput("ping-three-replies.txt");
        EXPECT_EQ(Ping::measure("de1.example.net", 2000), 29);
        EXPECT_EQ(test::readFile(root / "ping.args"), "-n\n-c\n3\n-W\n2000\nde1.example.net\n");
    }
    {
        // macOS ping ends with status 2 when some requests got no reply; the replies still count.
        auto output = chooseOutput("ping-one-lost.txt");
        test::ScopedEnv status("ORVEX_FAKE_PING_STATUS", "2");
        EXPECT_EQ(Ping::measure(" 203.0.113.7", 1500), 42);
        EXPECT_EQ(test::readFile(root / "ping.args"), "-n\n-c\n3\n-W\n1500\n 203.0.113.7\n");
    }
    {
        auto output = chooseOutput("ping-unknown-host.txt");
        test::ScopedEnv status("ORVEX_FAKE_PING_STATUS", "68");
        EXPECT_EQ(Ping::measure("nohost.invalid", 2000), -1);
    }

    // Local names are not probed at all.
    std::filesystem::remove(root / "ping.args");
    EXPECT_EQ(Ping::measure(" LOCALHOST ", 2000), -1);
    EXPECT_EQ(Ping::measure("", 2000), -1);
    // A host the tool would take for an option is not handed to it.
    EXPECT_EQ(Ping::measure("-c100000", 2000), -1);
    EXPECT_FALSE(std::filesystem::exists(root / "ping.args"));

    // Without the tool there is no result, and no exception.
    std::filesystem::remove(root / "sbin/ping");
    EXPECT_EQ(Ping::measure("de1.example.net", 2000), -1);
}

// iputils words its replies as BSD ping does but ends with "time 2042ms" for the whole run,
// which is no reply; it takes the wait in whole seconds.
TEST(Ping, TheLinuxPersonalityRunsIputils) {
    EXPECT_EQ(PingStat::parse(test::readFile(test::fixture("linux-output/ping-loopback.txt"))),
              (std::vector<int>{0, 0, 0}));

    test::TempDir root;
    test::ScopedEnv relocated("ORVEX_ROOT", root.path());
    test::ScopedEnv personality("ORVEX_PLATFORM", "linux");
    test::ScopedEnv output("ORVEX_FAKE_PING_OUTPUT", test::fixture("macos-output/ping-one-lost.txt"));
    test::writeFile(root / "usr/bin/ping", test::readFile(test::fixture("ping")), 0755);
    for (auto [timeoutMs, wait] : {std::pair{2000, "2"}, {1500, "2"}, {800, "1"}}) {
        EXPECT_EQ(Ping::measure("de1.example.net", timeoutMs), 42);
        EXPECT_EQ(test::readFile(root / "ping.args"),
                  std::string("-n\n-c\n3\n-W\n") + wait + "\nde1.example.net\n");
    }
    EXPECT_EQ(Ping::measure("-f", 2000), -1);
}

// The system's own tool against this machine (127.1 is 127.0.0.1 written short, which the
// local-name filter lets through).
TEST(Ping, TheRealIputilsAnswersForLoopback) {
    if (!std::filesystem::exists("/usr/bin/ping")) GTEST_SKIP() << "no /usr/bin/ping: install iputils-ping";
    test::ScopedEnv relocated("ORVEX_ROOT", std::nullopt);
    test::ScopedEnv personality("ORVEX_PLATFORM", "linux");
    int milliseconds = Ping::measure("127.1", 2000);
    EXPECT_GE(milliseconds, 0);
    EXPECT_LT(milliseconds, 1000);
}

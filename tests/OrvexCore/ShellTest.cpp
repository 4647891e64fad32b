#include "Shell.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "FileDescriptor.h"
#include "TestSupport.h"

using namespace orvex;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

pid_t pidFrom(const std::string& file) {
    pid_t pid = 0;
    test::waitUntil([&] {
        std::istringstream(test::readFile(file)) >> pid;
        return pid > 0;
    });
    return pid;
}

} // namespace

TEST(Shell, ReportsCodeAndTrimmedMergedOutput) {
    auto result = Shell::run("/bin/sh", {"-c", "echo ok >&2"}, 5);
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.output, "ok");
    EXPECT_TRUE(result.ok());

    result = Shell::run(
        "/bin/sh", {"-c", "printf '\\n\\n  out\\n'; printf ' err \\n' >&2; printf '\\302\\240'; exit 7"}, 5);
    EXPECT_EQ(result.code, 7);
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.output, "out\n err"); // Unicode blanks (here U+00A0) trimmed too, inner line end kept

    // Arguments go to the program as they are: no shell sees them.
    result = Shell::run("/bin/sh", {"-c", "printf '%s|' \"$@\"", "sh", "a b", "\"q\" 'x'", "$HOME", ""}, 5);
    EXPECT_EQ(result.output, "a b|\"q\" 'x'|$HOME||");

    // Invalid UTF-8 gives the empty text, but the real code.
    result = Shell::run("/bin/sh", {"-c", "printf 'ok\\377'; exit 3"}, 5);
    EXPECT_EQ(result.code, 3);
    EXPECT_EQ(result.output, "");

    // More output than a pipe holds: the child is drained while it runs.
    result = Shell::run("/bin/sh", {"-c", "head -c 3000000 /dev/zero | tr '\\0' a"}, 20);
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.output.size(), 3000000u);

    result = Shell::run("/bin/sh", {"-c", "kill -9 $$"}, 5);
    EXPECT_EQ(result.code, 128 + SIGKILL);

    test::TempDir dir;
    result = Shell::run(dir / "missing", {}, 5);
    EXPECT_EQ(result.code, -1);
    EXPECT_EQ(result.output, "не удалось запустить " + (dir / "missing") + ": No such file or directory");
    test::writeFile(dir / "plain", "#!/bin/sh\n", 0644);
    result = Shell::run(dir / "plain", {}, 5);
    EXPECT_EQ(result.code, -1);
    EXPECT_TRUE(result.output.starts_with("не удалось запустить " + (dir / "plain") + ": ")) << result.output;
}

TEST(Shell, TimeLimitHoldsAgainstAChildThatIgnoresSigtermAndKeepsItsOutputOpen) {
    test::TempDir dir;
    std::string pidFile = dir / "pid";
    auto start = Clock::now();
    auto result = Shell::run(
        "/bin/sh",
        {"-c", "trap '' TERM; echo $$ > \"$0\"; echo noise; while :; do sleep 0.05; done", pidFile}, 1.5);
    double elapsed = secondsSince(start);
    EXPECT_EQ(result.code, -1);
    EXPECT_EQ(result.output, "/bin/sh: команда не завершилась за 1 с");
    EXPECT_GE(elapsed, 1.5);
    EXPECT_LT(elapsed, 4.0); // 1.5 s, the 0.2 s grace and a generous margin
    EXPECT_NE(::kill(pidFrom(pidFile), 0), 0) << "the child was left running";

    // A child that obeys SIGTERM needs no grace at all.
    start = Clock::now();
    result = Shell::run("/bin/sleep", {"30"}, 0.3);
    EXPECT_EQ(result.output, "/bin/sleep: команда не завершилась за 0 с");
    EXPECT_LT(secondsSince(start), 3.0);
}

TEST(Shell, GrandchildHoldingThePipeDoesNotHangTheCaller) {
    test::TempDir dir;
    std::string pidFile = dir / "grandchild";
    auto start = Clock::now();
    auto result = Shell::run("/bin/sh", {"-c", "sleep 30 & echo $! > \"$0\"; echo gone", pidFile}, 10);
    EXPECT_LT(secondsSince(start), 5.0);
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.output, ""); // the output never ended, so it is given up
    pid_t grandchild = pidFrom(pidFile);
    ASSERT_GT(grandchild, 0);
    ::kill(grandchild, SIGKILL);
}

TEST(Shell, ConcurrentRunsKeepTheirOwnOutputAndInheritNoDescriptorOfOurs) {
    if (!fs::exists("/proc/self/fd")) GTEST_SKIP() << "needs /proc";
    // Even a descriptor we hold without close-on-exec (as one handed down by whoever
    // started us would be) stays ours.
    FileDescriptor inheritable(::open("/dev/null", O_RDONLY));
    ASSERT_TRUE(inheritable);
    const std::set<int> allowed{0, 1, 2};
    constexpr int runs = 16;
    std::vector<Shell::Result> results(runs);
    std::vector<std::thread> threads;
    for (int i = 0; i < runs; ++i)
        threads.emplace_back([&, i] {
            // The shell lists its own descriptors while the other runs hold their pipes open.
            results[i] = Shell::run(
                "/bin/sh", {"-c", "echo \"$0\"; sleep 0.2; ls /proc/$$/fd; true", "run-" + std::to_string(i)},
                20);
        });
    for (auto& thread : threads) thread.join();
    for (int i = 0; i < runs; ++i) {
        ASSERT_EQ(results[i].code, 0) << results[i].output;
        std::istringstream lines(results[i].output);
        std::string first;
        std::getline(lines, first);
        EXPECT_EQ(first, "run-" + std::to_string(i));
        for (std::string fd; std::getline(lines, fd);)
            EXPECT_TRUE(allowed.contains(std::stoi(fd))) << "run " << i << " inherited descriptor " << fd;
    }
}

TEST(Shell, NetworkToolsRunFromTheirRelocatedPaths) {
    test::TempDir root;
    test::ScopedEnv relocation("ORVEX_ROOT", root.path());
    for (const char* tool : {"sbin/route", "sbin/ifconfig", "usr/sbin/networksetup"})
        test::writeFile(root / tool, "#!/bin/sh\necho \"$0 $*\"\n", 0755);
    EXPECT_EQ(Shell::route({"-n", "get", "default"}, 5).output, (root / "sbin/route") + " -n get default");
    EXPECT_EQ(Shell::ifconfig({"utun3"}, 5).output, (root / "sbin/ifconfig") + " utun3");
    EXPECT_EQ(Shell::networksetup({"-listallnetworkservices"}, 5).output,
              (root / "usr/sbin/networksetup") + " -listallnetworkservices");
}

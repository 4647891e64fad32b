// The programs ORVEX starts: children it owns, commands it runs to the end, the administrator
// prompt and the system's ping.
#include "ChildProcess.h"
#include "Elevation.h"
#include "ElevationError.h"
#include "Paths.h"
#include "Ping.h"
#include "PingStat.h"
#include "Shell.h"
#include "TestSupport.h"
#include "Thrown.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sstream>
#include <thread>

using namespace orvex;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The process id a child wrote to `file`, once it is there.
pid_t pidFrom(const std::string& file) {
    pid_t pid = 0;
    test::waitUntil([&] { return (std::istringstream(test::readFile(file)) >> pid) && pid > 0; });
    return pid;
}

Shell::Result sh(const std::string& script, std::vector<std::string> arguments = {}, double limit = 5) {
    arguments.insert(arguments.begin(), {"-c", script});
    return Shell::run("/bin/sh", arguments, limit);
}

// A relocated system with the fake scripting host and the fake pkexec in /usr/bin.
class ElevationTest : public ::testing::Test {
protected:
    ElevationTest() {
        for (const char* tool : {"osascript", "pkexec"})
            test::writeFile(root / (std::string("usr/bin/") + tool), test::readFile(test::fixture(tool)),
                            0755);
    }

    // How `command` fails, and the text the user reads.
    std::pair<ElevationError::Case, std::string> failureOf(const std::string& command) {
        auto error = test::thrown<ElevationError>([&] { Elevation::run(command); });
        return {error ? error->which() : ElevationError::Case::failed, error ? error->what() : ""};
    }

    test::TempDir root;
    test::ScopedEnv relocation_{"ORVEX_ROOT", root.path()};
    test::ScopedEnv record_{"FAKE_OSASCRIPT_RECORD", root / "command"};
};

} // namespace

TEST(ChildProcess, SigtermReachesTheChildWhateverTheStarterBlocksOrIgnores) {
    // The service blocks SIGTERM in its threads and a caller may ignore it; neither may leak
    // into the child, or the tunnel could not stop its engines.
    auto previous = std::signal(SIGTERM, SIG_IGN);
    std::thread starter([] {
        sigset_t blocked;
        sigemptyset(&blocked);
        sigaddset(&blocked, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
        ChildProcess child = ChildProcess::spawn("/bin/sleep", {"30"});
        EXPECT_FALSE(child.waitFor(50ms));
        child.terminate();
        EXPECT_TRUE(child.waitFor(10s));
        EXPECT_EQ(child.exitCode(), 128 + SIGTERM);
    });
    starter.join();
    std::signal(SIGTERM, previous);
}

// Redirection, exit codes and a failed start, as every command the service runs meets them.
TEST(Shell, ReportsCodeAndTrimmedMergedOutput) {
    test::TempDir dir;
    // Unicode blanks (here U+00A0) are trimmed too, an inner line end is kept; arguments reach
    // the program as they are, no shell sees them; invalid UTF-8 gives the empty text but the
    // real code; more output than a pipe holds is drained while the child runs.
    const std::tuple<Shell::Result, int, std::string> runs[] = {
        {sh("echo ok >&2"), 0, "ok"},
        {sh("printf '\\n\\n  out\\n'; printf ' err \\n' >&2; printf '\\302\\240'; exit 7"), 7, "out\n err"},
        {sh("printf '%s|' \"$@\"", {"sh", "a b", "\"q\" 'x'", "$HOME", ""}), 0, "a b|\"q\" 'x'|$HOME||"},
        {sh("printf 'ok\\377'; exit 3"), 3, ""},
        {sh("head -c 3000000 /dev/zero | tr '\\0' a", {}, 20), 0, std::string(3'000'000, 'a')},
        {sh("kill -9 $$"), 128 + SIGKILL, ""},
        {Shell::run(dir / "missing", {}, 5), -1,
         "не удалось запустить " + dir / "missing: No such file or directory"},
    };
    for (const auto& [result, code, output] : runs) {
        EXPECT_EQ(result.code, code) << output.substr(0, 40);
        EXPECT_EQ(result.output, output);
        EXPECT_EQ(result.ok(), code == 0);
    }
}

TEST(Shell, TimeLimitHoldsAgainstAChildThatIgnoresSigtermAndKeepsItsOutputOpen) {
    test::TempDir dir;
    auto start = Clock::now();
    auto result =
        sh("trap '' TERM; echo $$ > \"$0\"; echo noise; while :; do sleep 0.05; done", {dir / "pid"}, 1.5);
    EXPECT_EQ(result.code, -1);
    EXPECT_EQ(result.output, "/bin/sh: команда не завершилась за 1 с");
    EXPECT_GE(secondsSince(start), 1.5);
    EXPECT_LT(secondsSince(start), 4.0); // 1.5 s, the 0.2 s grace and a generous margin
    EXPECT_NE(::kill(pidFrom(dir / "pid"), 0), 0) << "the child was left running";
    // A grandchild holding the pipe does not hang the caller: the output never ended, so it is given up.
    start = Clock::now();
    result = sh("sleep 30 & echo $! > \"$0\"; echo gone", {dir / "grandchild"}, 10);
    EXPECT_LT(secondsSince(start), 5.0);
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.output, "");
    ::kill(pidFrom(dir / "grandchild"), SIGKILL);
}

// Each shell lists its own descriptors while the other runs hold their pipes open; even one we
// hold without close-on-exec (as one handed down by whoever started us) stays ours.
TEST(Shell, ConcurrentRunsKeepTheirOwnOutputAndInheritNoDescriptorOfOurs) {
    FileDescriptor inheritable(::open("/dev/null", O_RDONLY));
    ASSERT_TRUE(inheritable);
    std::vector<Shell::Result> results(16);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < results.size(); ++i)
        threads.emplace_back(
            [&, i] { results[i] = sh("echo $0; sleep 0.2; ls /proc/$$/fd; true", {std::to_string(i)}, 20); });
    for (auto& thread : threads) thread.join();
    for (size_t i = 0; i < results.size(); ++i)
        EXPECT_EQ(results[i].output, std::to_string(i) + "\n0\n1\n2") << "run " << i;
}

TEST_F(ElevationTest, CommandReachesTheAdministratorShellUnchanged) {
    const std::string payload = "he said \"hi\" \\ back\\\\slash 'single' two  blanks $HOME `x`";
    const std::string command =
        "printf '%s' " + Elevation::shellQuoted(payload) + " > " + Elevation::shellQuoted(root / "out");
    Elevation::run(command);
    EXPECT_EQ(test::readFile(root / "command"), command);
    EXPECT_EQ(test::readFile(root / "out"), payload);
    // runSelf runs this very test program, with its one argument quoted.
    Elevation::runSelf("--gtest_list_tests");
    EXPECT_EQ(test::readFile(root / "command"),
              Elevation::shellQuoted(Paths::executable()) + " '--gtest_list_tests'");
}

TEST_F(ElevationTest, CancellationAndFailures) {
    using Case = ElevationError::Case;
    const std::string fixed = "не удалось выполнить с правами администратора";
    // The cancellation markers count anywhere in the output, in any letter case; without
    // readable words from the administrator shell the fixed text stands.
    const std::tuple<const char*, const char*, Case, std::string> cases[] = {
        {"cancel", "true", Case::cancelled, "Установка отменена"},
        {"", "echo 'Не удалось загрузить службу' >&2; exit 1", Case::failed,
         "execution error: Не удалось загрузить службу (1)"},
        {"", "echo 'status -128 somewhere'; exit 2", Case::cancelled, "Установка отменена"},
        {"", "echo 'USER Canceled it'; exit 2", Case::cancelled, "Установка отменена"},
        {"", "printf '\\377'; exit 1", Case::failed, fixed},
        {"silent", "true", Case::failed, fixed}};
    for (const auto& [mode, command, which, text] : cases) {
        test::ScopedEnv chosen("FAKE_OSASCRIPT", *mode ? std::optional<std::string>(mode) : std::nullopt);
        EXPECT_EQ(failureOf(command), std::pair(which, text)) << command;
    }
    // Without the scripting host the platform's own error comes through, not the command's failure.
    fs::remove(root / "usr/bin/osascript");
    EXPECT_EQ(test::thrown<std::system_error>([] { Elevation::run("true"); }).value().code(),
              std::errc::no_such_file_or_directory);
    // On Linux pkexec runs a shell command through /bin/sh; its statuses for a dismissed or
    // refused prompt are the cancellation the user sees on macOS too.
    test::ScopedEnv personality("ORVEX_PLATFORM", "linux");
    test::ScopedEnv record("FAKE_PKEXEC_RECORD", root / "pkexec-args");
    const std::string twoWords = "printf '%s' \"two  words\" > " + Elevation::shellQuoted(root / "out");
    Elevation::run(twoWords);
    EXPECT_EQ(test::readFile(root / "pkexec-args"), "/bin/sh\n-c\n" + twoWords + "\n");
    EXPECT_EQ(test::readFile(root / "out"), "two  words");
    for (const char* answer : {"dismiss", "refuse"}) {
        test::ScopedEnv mode("FAKE_PKEXEC", answer);
        EXPECT_EQ(failureOf("true").first, Case::cancelled) << answer;
    }
    EXPECT_EQ(failureOf("echo 'нет места на диске' >&2; exit 3"),
              std::pair(Case::failed, std::string("нет места на диске")));
}

// Recorded output of both systems' tools: iputils ends with "time 2042ms" for the whole run,
// which is no reply. Halves go away from zero; "<" counts; blanks may follow the sign; the
// marker is case-sensitive; values an int cannot hold are skipped rather than wrapped.
TEST(Ping, ReadsReplyTimes) {
    auto output = [](const std::string& name) { return test::readFile(test::fixture(name)); };
    using Times = std::vector<int>;
    const std::pair<std::string, Times> texts[] = {
        {output("macos-output/ping-three-replies.txt"), {31, 29, 30}},
        {output("macos-output/ping-one-lost.txt"), {45, 42}},
        {output("macos-output/ping-no-reply.txt"), {}},
        {output("linux-output/ping-loopback.txt"), {0, 0, 0}},
        {"time=12.5 ms time=0.5 time=2.49 time<1 ms", {13, 1, 2, 1}},
        {"time= \t 7ms Time=3 time:3 time =3 time=x time=-4", {7}},
        {"time=5.ms timetime=6 time=007.50", {5, 6, 8}},
        {"time=99999999999999999999 time=" + std::string(5000, '9') + " time=4", {4}}};
    for (const auto& [text, times] : texts) EXPECT_EQ(PingStat::parse(text), times) << text.substr(0, 60);
    const std::pair<Times, int> best[] = {{{}, -1}, {{-1, 5, -3, 2, 9}, 2}, {{-1}, -1}, {{0, 4}, 0}};
    for (const auto& [times, fastest] : best) EXPECT_EQ(PingStat::best(times), fastest);
}

// The fake tool prints the fixture named in ORVEX_FAKE_PING_OUTPUT, ends with
// ORVEX_FAKE_PING_STATUS and keeps its arguments in ping.args.
TEST(Ping, RunsTheSystemToolAndTakesTheBestReply) {
    test::TempDir root;
    test::ScopedEnv relocated("ORVEX_ROOT", root.path());
    test::writeFile(root / "sbin/ping", test::readFile(test::fixture("ping")), 0755);
    auto run = [&](const char* fixture, const char* status, const std::string& host, int timeoutMs) {
        test::ScopedEnv chosen("ORVEX_FAKE_PING_OUTPUT",
                               test::fixture(std::string("macos-output/") + fixture));
        test::ScopedEnv code("ORVEX_FAKE_PING_STATUS", status);
        return Ping::measure(host, timeoutMs);
    };
    EXPECT_EQ(run("ping-three-replies.txt", "0", "de1.example.net", 2000), 29);
    EXPECT_EQ(test::readFile(root / "ping.args"), "-n\n-c\n3\n-W\n2000\nde1.example.net\n");
    // macOS ping ends with status 2 when some requests got no reply; the replies still count.
    EXPECT_EQ(run("ping-one-lost.txt", "2", "203.0.113.7", 1500), 42);
    EXPECT_EQ(run("ping-unknown-host.txt", "68", "nohost.invalid", 2000), -1);
    // Local names are not probed at all, nor a host the tool would take for an option.
    fs::remove(root / "ping.args");
    for (const char* host : {"", "  ", " LOCALHOST\t", "127.0.0.1", " ::1 ", "-c100000"})
        EXPECT_EQ(run("ping-three-replies.txt", "0", host, 2000), -1) << host;
    EXPECT_FALSE(fs::exists(root / "ping.args"));
    for (const char* host : {"127.0.0.2", "::2", "localhost.example"})
        EXPECT_EQ(run("ping-three-replies.txt", "0", host, 2000), 29) << host;
    // Without the tool there is no result, and no exception.
    fs::remove(root / "sbin/ping");
    EXPECT_EQ(run("ping-three-replies.txt", "0", "de1.example.net", 2000), -1);
    // iputils takes the wait in whole seconds, rounded up.
    test::ScopedEnv personality("ORVEX_PLATFORM", "linux");
    test::writeFile(root / "usr/bin/ping", test::readFile(test::fixture("ping")), 0755);
    for (auto [timeoutMs, wait] : {std::pair{1500, "2"}, {800, "1"}}) {
        EXPECT_EQ(run("ping-one-lost.txt", "0", "de1.example.net", timeoutMs), 42);
        EXPECT_EQ(test::readFile(root / "ping.args"),
                  std::string("-n\n-c\n3\n-W\n") + wait + "\nde1.example.net\n");
    }
}

// The system's own tool against this machine (127.1 is 127.0.0.1 written short, which the
// local-name filter lets through).
TEST(Ping, TheRealIputilsAnswersForLoopback) {
    if (!fs::exists("/usr/bin/ping")) GTEST_SKIP() << "no /usr/bin/ping: install iputils-ping";
    test::ScopedEnv relocated("ORVEX_ROOT", std::nullopt);
    test::ScopedEnv personality("ORVEX_PLATFORM", "linux");
    int milliseconds = Ping::measure("127.1", 2000);
    EXPECT_GE(milliseconds, 0);
    EXPECT_LT(milliseconds, 1000);
}

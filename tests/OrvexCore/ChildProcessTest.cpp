#include "ChildProcess.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <pthread.h>
#include <system_error>
#include <thread>

#include "Io.h"
#include "Pipe.h"
#include "TestSupport.h"

using namespace orvex;
using namespace std::chrono_literals;

namespace {

bool processExists(pid_t pid) { return ::kill(pid, 0) == 0; }

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
        EXPECT_TRUE(child.running());
        EXPECT_FALSE(child.waitFor(50ms));
        child.terminate();
        EXPECT_TRUE(child.waitFor(10s));
        EXPECT_EQ(child.exitCode(), 128 + SIGTERM);
    });
    starter.join();
    std::signal(SIGTERM, previous);
}

TEST(ChildProcess, RedirectsOutputAndRunsInTheGivenFolder) {
    test::TempDir dir;
    std::string log = dir / "engine.log";
    test::writeFile(log, "earlier\n");
    ChildProcess::Options options;
    options.workingDirectory = dir / "work";
    std::filesystem::create_directories(options.workingDirectory);
    options.output = ChildProcess::Redirect::toFile(log, true);
    options.error = ChildProcess::Redirect::toFile(log, true);
    auto child = ChildProcess::spawn("/bin/sh", {"-c", "pwd; echo to-stderr >&2; exit 5"}, options);
    EXPECT_EQ(child.wait(), 5);
    EXPECT_EQ(test::readFile(log), options.workingDirectory + "\nto-stderr\n");

    options.output = ChildProcess::Redirect::toFile(log);
    options.error = ChildProcess::Redirect::inherit();
    EXPECT_EQ(ChildProcess::spawn("/bin/echo", {"appended"}, options).wait(), 0);
    EXPECT_EQ(test::readFile(log), options.workingDirectory + "\nto-stderr\nappended\n");

    Pipe pipe = Pipe::create();
    options = {};
    options.error = ChildProcess::Redirect::toDescriptor(pipe.writeEnd.get());
    auto writer = ChildProcess::spawn("/bin/sh", {"-c", "echo through-pipe >&2"}, options);
    pipe.writeEnd.reset();
    EXPECT_EQ(Io::readToEnd(pipe.readEnd.get()), "through-pipe\n");
    EXPECT_EQ(writer.wait(), 0);

    try {
        ChildProcess::spawn(dir / "missing", {});
        FAIL() << "a missing program started";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), std::errc::no_such_file_or_directory);
    }
}

TEST(ChildProcess, OwnerStopsAndReapsEvenAChildThatIgnoresSigterm) {
    test::TempDir dir;
    std::string ready = dir / "ready";
    pid_t stubbornPid;
    {
        auto stubborn = ChildProcess::spawn(
            "/bin/sh", {"-c", "trap '' TERM; : > \"$0\"; while :; do sleep 0.05; done", ready});
        stubbornPid = stubborn.pid();
        ASSERT_TRUE(test::waitUntil([&] { return std::filesystem::exists(ready); }));

        // Moving hands over the child; the moved-from owner is empty and stops nothing.
        ChildProcess owner = std::move(stubborn);
        EXPECT_FALSE(stubborn);
        EXPECT_EQ(owner.pid(), stubbornPid);
        EXPECT_FALSE(owner.stop(100ms)); // SIGTERM ignored: SIGKILL needed
        EXPECT_FALSE(owner.running());
        EXPECT_EQ(owner.exitCode(), 128 + SIGKILL);
    }
    EXPECT_FALSE(processExists(stubbornPid)); // reaped, not a zombie

    pid_t politePid;
    {
        auto polite = ChildProcess::spawn("/bin/sleep", {"30"});
        politePid = polite.pid();
        EXPECT_TRUE(processExists(politePid));
    }
    EXPECT_FALSE(processExists(politePid));

    auto finished = ChildProcess::spawn("/bin/true", {});
    EXPECT_EQ(finished.wait(), 0);
    EXPECT_TRUE(finished.stop()); // already ended: nothing to signal
    finished.kill();
    EXPECT_EQ(finished.exitCode(), 0);
}

#include "UnixSocket.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>

#include "IPCTestServer.h"
#include "SocketPlatform.h"
#include "TestSupport.h"

using namespace orvex;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// A path of exactly `length` bytes inside `dir`.
std::string pathOfLength(const test::TempDir& dir, std::size_t length) {
    std::string path = dir / "";
    return path + std::string(length - path.size(), 's');
}

bool closesOnExec(int fd) { return (::fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0; }

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The socket error `action` fails with; a test failure when it does not fail.
UnixSocket::SocketError socketError(const std::function<void()>& action) {
    try {
        action();
    } catch (const UnixSocket::SocketError& e) {
        return e;
    }
    ADD_FAILURE() << "no socket error";
    return UnixSocket::SocketError(UnixSocket::SocketError::Kind::create, -1);
}

// Holds a connection open without answering until the client hangs up.
void neverAnswer(int fd) {
    UnixSocket::readUntilNewline(fd);
    char byte;
    while (::read(fd, &byte, 1) > 0) {
    }
}

} // namespace

TEST(UnixSocket, PathLimitIsCheckedBeforeAnythingHappens) {
    test::TempDir dir;
    std::string tooLong = pathOfLength(dir, 104);
    test::writeFile(tooLong, "keep");
    auto refused = socketError([&] { UnixSocket::listen(tooLong); });
    EXPECT_EQ(refused.kind, UnixSocket::SocketError::Kind::tooLongPath);
    EXPECT_STREQ(refused.what(), "слишком длинный путь к сокету");
    EXPECT_EQ(test::readFile(tooLong), "keep");
    EXPECT_EQ(socketError([&] { UnixSocket::request(tooLong, "{}", 2); }).kind,
              UnixSocket::SocketError::Kind::tooLongPath);

    std::string longest = pathOfLength(dir, 103);
    test::IPCTestServer server(longest, std::string("pong"));
    EXPECT_EQ(UnixSocket::request(longest, "ping", 2), "pong");
    EXPECT_EQ(server.requests(), std::vector<std::string>{"ping"});
}

TEST(UnixSocket, ListenReplacesStaleFileOpenToEveryone) {
    test::TempDir dir;
    std::string path = dir / "orvex.sock";
    test::writeFile(path, "stale", 0600);
    ::umask(022);
    FileDescriptor listening = UnixSocket::listen(path);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0666u);
    EXPECT_TRUE(closesOnExec(listening.get()));

    FileDescriptor client = UnixSocket::connect(path);
    ASSERT_TRUE(client);
    FileDescriptor accepted = UnixSocket::accept(listening.get());
    ASSERT_TRUE(accepted);
    EXPECT_TRUE(closesOnExec(accepted.get()));

    // A path nobody may create in fails to bind with the platform's reason.
    auto unbound = socketError([&] { UnixSocket::listen(dir / "missing/folder.sock"); });
    EXPECT_EQ(unbound.kind, UnixSocket::SocketError::Kind::bind);
    EXPECT_EQ(std::string(unbound.what()), std::string("не удалось занять сокет: ") + std::strerror(ENOENT));
}

TEST(UnixSocket, ResponseFramingAcrossReads) {
    test::TempDir dir;
    std::string path = dir / "orvex.sock";
    std::string big(20'000, 'x');
    for (std::size_t i = 0; i < big.size(); i += 97) big[i] = static_cast<char>('a' + i % 26);
    {
        test::IPCTestServer server(path, [&](int fd) {
            UnixSocket::readUntilNewline(fd);
            for (std::size_t at = 0; at < big.size(); at += 3000)
                UnixSocket::writeAll(fd, big.substr(at, 3000));
            UnixSocket::writeAll(fd, "\nsecond line\n");
        });
        EXPECT_EQ(UnixSocket::request(path, "big", 5), big);
    }
    {
        // Bytes after the line feed of the same read are not part of the answer.
        test::IPCTestServer server(path, [](int fd) {
            UnixSocket::readUntilNewline(fd);
            UnixSocket::writeAll(fd, "{\"ok\":true}\n{\"ok\":false}\ntrailing");
        });
        EXPECT_EQ(UnixSocket::request(path, "x", 5), "{\"ok\":true}");
    }
    {
        // The server side sees the request without its line feed, payload newlines aside.
        test::IPCTestServer server(path, std::string("done"));
        EXPECT_EQ(UnixSocket::request(path, std::string(9000, 'r'), 5), "done");
        EXPECT_EQ(server.requests(), std::vector<std::string>{std::string(9000, 'r')});
    }
    {
        // A peer that closes without a line feed leaves what it sent; one that sends nothing, nothing.
        test::IPCTestServer partial(path, [](int fd) {
            UnixSocket::readUntilNewline(fd);
            UnixSocket::writeAll(fd, "{\"ok\":");
        });
        EXPECT_EQ(UnixSocket::request(path, "x", 5), "{\"ok\":");
    }
    {
        test::IPCTestServer silent(path, [](int fd) { UnixSocket::readUntilNewline(fd); });
        auto start = Clock::now();
        EXPECT_EQ(UnixSocket::request(path, "x", 5), "");
        EXPECT_LT(secondsSince(start), 4.0);
    }
}

TEST(UnixSocket, ReaderStopsAtItsLimit) {
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    FileDescriptor reader(pair[0]), writer(pair[1]);
    std::thread feed([&] {
        try {
            for (int i = 0; i < 8; ++i)
                UnixSocket::writeAll(writer.get(), std::string(UnixSocket::readChunk, 'z'));
        } catch (const UnixSocket::SocketError&) {
        }
    });
    std::string got = UnixSocket::readUntilNewline(reader.get(), 3 * UnixSocket::readChunk);
    EXPECT_GE(got.size(), 3 * UnixSocket::readChunk);
    EXPECT_LT(got.size(), 4 * UnixSocket::readChunk);
    reader.reset();
    feed.join();
}

TEST(UnixSocket, TimeLimitIsInWholeSeconds) {
    test::TempDir dir;
    std::string path = dir / "orvex.sock";
    test::IPCTestServer server(path, neverAnswer);

    // 1.99 s means one second: the fraction is dropped.
    auto start = Clock::now();
    EXPECT_EQ(UnixSocket::request(path, "status", 1.99), "");
    double waited = secondsSince(start);
    EXPECT_GE(waited, 0.9);
    EXPECT_LT(waited, 1.9);

    // Below one second would mean no limit at all; it waits one second instead.
    start = Clock::now();
    EXPECT_EQ(UnixSocket::request(path, "status", 0.2), "");
    waited = secondsSince(start);
    EXPECT_GE(waited, 0.9);
    EXPECT_LT(waited, 5.0);
}

TEST(UnixSocket, TimeLimitBoundsTheConnectToAStalledService) {
    test::TempDir dir;
    std::string path = dir / "orvex.sock";
    // A service that stopped accepting: its queue fills and later connects wait for room.
    FileDescriptor listening = UnixSocket::listen(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    std::vector<FileDescriptor> queued;
    for (int i = 0; i < 4 * UnixSocket::backlog; ++i) {
        FileDescriptor fd(SocketPlatform::openStream());
        ::fcntl(fd.get(), F_SETFL, O_NONBLOCK);
        if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address),
                      SocketPlatform::finishAddress(address)) != 0)
            break;
        queued.push_back(std::move(fd));
    }
    ASSERT_LT(queued.size(), 4u * UnixSocket::backlog);

    auto exchange = std::async(std::launch::async, [&] {
        return std::string(socketError([&] { UnixSocket::request(path, "ping", 1); }).what());
    });
    bool ended = exchange.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    // Closing the service releases a client that would otherwise wait for good.
    listening.reset();
    EXPECT_TRUE(ended) << "the connect ignored the time limit";
    EXPECT_EQ(exchange.get().rfind("не удалось подключиться к службе: ", 0), 0u);
}

TEST(UnixSocket, NoListenerFailsToConnect) {
    test::TempDir dir;
    std::string path = dir / "orvex.sock";
    auto missing = socketError([&] { UnixSocket::request(path, "ping", 2); });
    EXPECT_EQ(missing.kind, UnixSocket::SocketError::Kind::connect);
    EXPECT_EQ(missing.errorNumber, ENOENT);
    EXPECT_EQ(std::string(missing.what()),
              std::string("не удалось подключиться к службе: ") + std::strerror(ENOENT));
    // A socket file left behind by a service that is gone.
    UnixSocket::listen(path);
    EXPECT_EQ(socketError([&] { UnixSocket::request(path, "ping", 2); }).errorNumber, ECONNREFUSED);
}

TEST(UnixSocket, WriterSurvivesAPeerThatLeft) {
    struct sigaction previous {};
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    ::sigaction(SIGPIPE, &fallback, &previous);

    test::TempDir dir;
    std::string path = dir / "orvex.sock";
    FileDescriptor listening = UnixSocket::listen(path);
    FileDescriptor client = UnixSocket::connect(path);
    FileDescriptor accepted = UnixSocket::accept(listening.get());
    ASSERT_TRUE(accepted);
    client.reset();
    auto broken = socketError([&] { UnixSocket::writeAll(accepted.get(), std::string(100'000, 'w')); });
    EXPECT_EQ(broken.kind, UnixSocket::SocketError::Kind::connect);
    EXPECT_EQ(broken.errorNumber, EPIPE);
    ::sigaction(SIGPIPE, &previous, nullptr);
}

namespace {
std::atomic<int> interruptions{0};
void countInterruption(int) { ++interruptions; }
} // namespace

TEST(UnixSocket, InterruptedReadsCarryOn) {
    struct sigaction previous {};
    struct sigaction counting {};
    counting.sa_handler = countInterruption;
    // No SA_RESTART: the read really returns EINTR.
    ::sigaction(SIGUSR1, &counting, &previous);

    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    FileDescriptor reader(pair[0]), writer(pair[1]);
    std::atomic<bool> done{false};
    std::string got;
    std::thread thread([&] {
        got = UnixSocket::readUntilNewline(reader.get());
        done = true;
    });
    for (int i = 0; i < 20 && !done; ++i) {
        int before = interruptions;
        ::pthread_kill(thread.native_handle(), SIGUSR1);
        ASSERT_TRUE(test::waitUntil([&] { return interruptions > before; }));
    }
    UnixSocket::writeAll(writer.get(), "whole\n");
    thread.join();
    EXPECT_EQ(got, "whole");
    ::sigaction(SIGUSR1, &previous, nullptr);
}

// The Unix socket under the service's protocol, and the client's reading of answers the real
// service (tested end to end in tests/service) never gives.
#include "DaemonClient.h"
#include "Paths.h"
#include "TestSupport.h"
#include "Thrown.h"
#include "UnixSocket.h"

#include <atomic>
#include <cerrno>
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
#include <thread>
#include <unistd.h>

using namespace orvex;
using Clock = std::chrono::steady_clock;
using Kind = UnixSocket::SocketError::Kind;

namespace {

// A real listening socket served on its own thread, one connection at a time; the destructor
// wakes the accept with a connection of its own and joins the thread.
class IPCTestServer {
public:
    IPCTestServer(std::string path, std::function<void(int fd)> handler)
        : path_(std::move(path)), listening_(UnixSocket::listen(path_)),
          thread_([this, handler = std::move(handler)] {
              while (FileDescriptor connection = UnixSocket::accept(listening_.get())) {
                  if (stopping_) return;
                  try {
                      handler(connection.get());
                  } catch (const std::exception&) { // a client that went away mid-answer
                  }
              }
          }) {}
    ~IPCTestServer() {
        stopping_ = true;
        test::idleClient(path_);
        thread_.join();
    }

private:
    std::string path_;
    FileDescriptor listening_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

// Reads the request line and answers `reply` in pieces, or with none given, the request itself.
std::function<void(int fd)> answering(std::optional<std::string> reply = std::nullopt,
                                      size_t piece = 1 << 20) {
    return [reply, piece](int fd) {
        std::string request = UnixSocket::readUntilNewline(fd), text = reply ? *reply : request + "\n";
        for (size_t at = 0; at < text.size(); at += piece) UnixSocket::writeAll(fd, text.substr(at, piece));
    };
}

// Holds a connection open without answering until the client hangs up.
void neverAnswer(int fd) {
    UnixSocket::readUntilNewline(fd);
    char byte;
    while (::read(fd, &byte, 1) > 0) {
    }
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

UnixSocket::SocketError socketError(const std::function<void()>& action) {
    return test::thrown<UnixSocket::SocketError>(action).value_or(UnixSocket::SocketError(Kind::create, -1));
}

// The service socket relocated into a fresh folder, as every client call finds it.
class DaemonClientTest : public ::testing::Test {
protected:
    DaemonClientTest() { std::filesystem::create_directories(dir_ / "var/run"); }

    // Runs `call` against a service that answers `response`.
    template <typename Call> void exchange(const std::string& response, Call call) {
        IPCTestServer server(Paths::socket(), answering(response + "\n"));
        call();
    }

    DaemonError::Kind failure(const std::function<void()>& call, std::string& text) {
        auto error = test::thrown<DaemonError>(call);
        text = error ? error->what() : "";
        return error ? error->kind : DaemonError::Kind::noAnswer;
    }

    test::TempDir dir_;
    test::ScopedEnv root_{"ORVEX_ROOT", dir_.path()};
};

} // namespace

TEST(UnixSocket, ListenReplacesStaleFileOpenToEveryoneAndChecksThePathFirst) {
    test::TempDir dir;
    std::string path = dir / "orvex.sock";
    test::writeFile(path, "stale", 0600);
    ::umask(022);
    FileDescriptor listening = UnixSocket::listen(path);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0666u);
    FileDescriptor client = UnixSocket::connect(path);
    FileDescriptor accepted = UnixSocket::accept(listening.get());
    ASSERT_TRUE(client && accepted);
    for (int fd : {listening.get(), accepted.get()}) EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC);
    // A path nobody may create in fails to bind with the platform's reason.
    auto unbound = socketError([&] { UnixSocket::listen(dir / "missing/folder.sock"); });
    EXPECT_EQ(unbound.kind, Kind::bind);
    EXPECT_EQ(std::string(unbound.what()), std::string("не удалось занять сокет: ") + std::strerror(ENOENT));
    // 103 bytes is the longest path; a longer one is refused before anything is touched.
    std::string tooLong = path + std::string(104 - path.size(), 's');
    test::writeFile(tooLong, "keep");
    auto refused = socketError([&] { UnixSocket::listen(tooLong); });
    EXPECT_EQ(refused.kind, Kind::tooLongPath);
    EXPECT_STREQ(refused.what(), "слишком длинный путь к сокету");
    EXPECT_EQ(test::readFile(tooLong), "keep");
    EXPECT_EQ(socketError([&] { UnixSocket::request(tooLong, "{}", 2); }).kind, Kind::tooLongPath);
    std::string longest = tooLong.substr(0, 103);
    IPCTestServer server(longest, answering("pong\n"));
    EXPECT_EQ(UnixSocket::request(longest, "ping", 2), "pong");
}

TEST(UnixSocket, ResponseFramingAcrossReads) {
    test::TempDir dir;
    std::string path = dir / "orvex.sock";
    std::string big = std::string(7'000, 'x') + std::string(7'000, 'y') + std::string(7'000, 'z');
    // Bytes after the line feed are not part of the answer; a peer that closes without one
    // leaves what it sent.
    const std::pair<std::string, std::string> replies[] = {
        {big + "\nsecond line\n", big},
        {"{\"ok\":true}\n{\"ok\":false}\ntrailing", "{\"ok\":true}"},
        {"{\"ok\":", "{\"ok\":"}};
    for (const auto& [reply, answer] : replies) {
        IPCTestServer server(path, answering(reply, 3000));
        EXPECT_EQ(UnixSocket::request(path, "x", 5), answer);
    }
    // The server side sees the request without its line feed.
    IPCTestServer echo(path, answering());
    EXPECT_EQ(UnixSocket::request(path, std::string(9000, 'r'), 5), std::string(9000, 'r'));
}

TEST(UnixSocket, ReaderStopsAtItsLimitAndCarriesOnWhenInterrupted) {
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
    EXPECT_TRUE(got.size() >= 3 * UnixSocket::readChunk && got.size() < 4 * UnixSocket::readChunk);
    reader.reset();
    feed.join();
    // A handler without SA_RESTART, so that the blocked read really returns EINTR.
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    reader.reset(pair[0]);
    writer.reset(pair[1]);
    static std::atomic<int> interruptions{0};
    struct sigaction previous {
    }, counting{};
    counting.sa_handler = [](int) { ++interruptions; };
    ::sigaction(SIGUSR1, &counting, &previous);
    std::thread thread([&] { got = UnixSocket::readUntilNewline(reader.get()); });
    for (int i = 0; i < 20; ++i) {
        int before = interruptions;
        ::pthread_kill(thread.native_handle(), SIGUSR1);
        ASSERT_TRUE(test::waitUntil([&] { return interruptions > before; }));
    }
    UnixSocket::writeAll(writer.get(), "whole\n");
    thread.join();
    EXPECT_EQ(got, "whole");
    ::sigaction(SIGUSR1, &previous, nullptr);
}

TEST(UnixSocket, TimeLimitIsInWholeSeconds) {
    test::TempDir dir;
    std::string path = dir / "orvex.sock";
    IPCTestServer server(path, neverAnswer);
    // 1.99 s means one second: the fraction is dropped. Below one second would mean no limit
    // at all; it waits one second instead.
    for (double limit : {1.99, 0.2}) {
        auto start = Clock::now();
        EXPECT_EQ(UnixSocket::request(path, "status", limit), "");
        EXPECT_GE(secondsSince(start), 0.9) << limit;
        EXPECT_LT(secondsSince(start), 1.9) << limit;
    }
}

// A service that stopped accepting: its queue fills and a later connect waits for room.
TEST(UnixSocket, TimeLimitBoundsTheConnectToAStalledService) {
    test::TempDir dir;
    std::string path = dir / "orvex.sock";
    FileDescriptor listening = UnixSocket::listen(path);
    std::vector<FileDescriptor> queued;
    for (FileDescriptor fd; queued.size() < 4u * UnixSocket::backlog && (fd = test::idleClient(path, false));)
        queued.push_back(std::move(fd));
    ASSERT_LT(queued.size(), 4u * UnixSocket::backlog);
    auto exchange = std::async(std::launch::async, [&] {
        return std::string(socketError([&] { UnixSocket::request(path, "ping", 1); }).what());
    });
    bool ended = exchange.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    listening.reset(); // releases a client that would otherwise wait for good
    EXPECT_TRUE(ended) << "the connect ignored the time limit";
    EXPECT_EQ(exchange.get().rfind("не удалось подключиться к службе: ", 0), 0u);
}

// The service's side of a connection, as accept() prepares it, must not die of SIGPIPE.
TEST(UnixSocket, WriterSurvivesAPeerThatLeft) {
    struct sigaction previous {
    }, fallback{};
    fallback.sa_handler = SIG_DFL;
    ::sigaction(SIGPIPE, &fallback, &previous);
    test::TempDir dir;
    FileDescriptor listening = UnixSocket::listen(dir / "orvex.sock");
    FileDescriptor client = UnixSocket::connect(dir / "orvex.sock");
    FileDescriptor accepted = UnixSocket::accept(listening.get());
    client.reset();
    auto broken = socketError([&] { UnixSocket::writeAll(accepted.get(), std::string(100'000, 'w')); });
    EXPECT_EQ(broken.kind, Kind::connect);
    EXPECT_EQ(broken.errorNumber, EPIPE);
    ::sigaction(SIGPIPE, &previous, nullptr);
}

TEST_F(DaemonClientTest, RefusalsCarryTheServiceTextOrTheFallback) {
    const std::pair<const char*, std::function<void()>> cases[] = {
        {"не удалось подключиться", [] { DaemonClient::connect("vless://x", "s"); }},
        {"не удалось отключиться", [] { DaemonClient::disconnect(); }},
        {"не удалось изменить настройку", [] { DaemonClient::setAdBlock(true); }},
        {"замер не удался", [] { DaemonClient::speedTest(); }},
        {"обновление не установлено", [] { DaemonClient::installUpdate("3.1.0"); }},
    };
    // An empty reason would leave the user a blank message; a speed test needs its figure.
    std::string text;
    for (const auto& [fallback, call] : cases)
        for (const char* answer : {R"({"ok":false})", R"({"ok":false,"error":""})"}) {
            exchange(answer, [&] { EXPECT_EQ(failure(call, text), DaemonError::Kind::refused); });
            EXPECT_EQ(text, fallback) << answer;
        }
    exchange(R"({"ok":true})", [&] { failure([] { DaemonClient::speedTest(); }, text); });
    EXPECT_EQ(text, "замер не удался");
    exchange(R"({"ok":false,"error":"движок не запустился: \/usr\/bin"})",
             [&] { failure([] { DaemonClient::disconnect(); }, text); });
    EXPECT_EQ(text, "движок не запустился: /usr/bin");
    exchange(R"({"ok":true,"mbps":87.5})", [] { EXPECT_EQ(DaemonClient::speedTest(), 87.5); });
    exchange(R"({"ok":true,"needReconnect":true})",
             [] { EXPECT_TRUE(DaemonClient::setAdBlock(true).needReconnect); });
}

TEST_F(DaemonClientTest, MissingOrUnreadableAnswers) {
    // No service at all: not running, at once, and the socket's own failure for a status; a
    // socket file left behind by a service that is gone refuses.
    auto start = Clock::now();
    EXPECT_FALSE(DaemonClient::isRunning());
    EXPECT_LT(secondsSince(start), 1.5);
    EXPECT_EQ(test::whatOf([] { DaemonClient::status(); }),
              std::string("не удалось подключиться к службе: ") + strerror(ENOENT));
    UnixSocket::listen(Paths::socket());
    EXPECT_EQ(socketError([] { DaemonClient::status(); }).errorNumber, ECONNREFUSED);
    // status() needs a status even when ok; isRunning() an answer that reads as ok.
    std::string text;
    exchange(R"({"ok":true})",
             [&] { EXPECT_EQ(failure([] { DaemonClient::status(); }, text), DaemonError::Kind::noAnswer); });
    EXPECT_EQ(text, "Фоновая служба не отвечает");
    for (const char* answer : {"not json", R"({"ok":false})"})
        exchange(answer, [] { EXPECT_FALSE(DaemonClient::isRunning()); });
    IPCTestServer silent(Paths::socket(), neverAnswer);
    EXPECT_FALSE(DaemonClient::isRunning());
    start = Clock::now();
    EXPECT_EQ(failure([] { DaemonClient::status(); }, text), DaemonError::Kind::noAnswer);
    EXPECT_GE(secondsSince(start), 4.9);
    EXPECT_LT(secondsSince(start), 15.0);
}

#include "ChildProcess.h"
#include "FileDescriptor.h"
#include "LocalSocks.h"
#include "Vless.h"
#include "XrayConfig.h"

#include "TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace orvex;
using namespace std::chrono_literals;

namespace {

const std::string v2ray = "/usr/bin/v2ray";
const std::string body = "orvex interop reply";

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

// A connected socket whose reads and writes give up after a few seconds, so that a silent
// engine fails the test instead of hanging it; empty when nothing listens.
FileDescriptor connectTo(std::uint16_t port) {
    FileDescriptor fd(::socket(AF_INET, SOCK_STREAM, 0));
    timeval limit{5, 0};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    auto address = loopback(port);
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return {};
    return fd;
}

bool sendAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        auto sent = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        done += static_cast<std::size_t>(sent);
    }
    return true;
}

// Exactly `count` bytes, or fewer when the peer closes or goes quiet.
std::string receive(int fd, std::size_t count) {
    std::string bytes;
    char buffer[4096];
    while (bytes.size() < count) {
        auto got = ::recv(fd, buffer, std::min(sizeof buffer, count - bytes.size()), 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    return bytes;
}

// A plain HTTP/1.0 server on a free loopback port that answers every request with `body`.
class HttpServer {
public:
    HttpServer() : listener_(::socket(AF_INET, SOCK_STREAM, 0)) {
        auto address = loopback(0);
        socklen_t length = sizeof address;
        if (::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(listener_.get(), 16) != 0 ||
            ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("cannot listen on loopback");
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~HttpServer() {
        stop_ = true;
        thread_.join();
    }
    std::uint16_t port() const { return port_; }
    int requests() const { return requests_; }

private:
    void serve() {
        while (!stop_) {
            pollfd ready{listener_.get(), POLLIN, 0};
            if (::poll(&ready, 1, 50) <= 0) continue;
            FileDescriptor client(::accept(listener_.get(), nullptr, nullptr));
            if (!client) continue;
            timeval limit{5, 0};
            ::setsockopt(client.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
            std::string request;
            while (request.find("\r\n\r\n") == std::string::npos) {
                auto more = receive(client.get(), 1);
                if (more.empty()) break;
                request += more;
            }
            if (!request.starts_with("GET /")) continue;
            ++requests_;
            sendAll(client.get(), "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                                      "\r\nConnection: close\r\n\r\n" + body);
        }
    }

    FileDescriptor listener_;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> requests_{0};
    std::thread thread_;
};

// GET / on 127.0.0.1:`target` through the SOCKS5 server on `proxy`. Without a user the
// greeting offers only "no authentication". Returns the HTTP answer, or nothing when the
// proxy refuses the client.
std::optional<std::string> getThroughSocks(std::uint16_t proxy, std::uint16_t target, const std::string& user,
                                           const std::string& pass) {
    auto fd = connectTo(proxy);
    if (!fd) throw std::runtime_error("SOCKS port is not listening");
    const char method = user.empty() ? '\x00' : '\x02';
    if (!sendAll(fd.get(), std::string{'\x05', '\x01', method})) return std::nullopt;
    if (receive(fd.get(), 2) != std::string{'\x05', method}) return std::nullopt;
    if (!user.empty()) {
        std::string auth{'\x01', static_cast<char>(user.size())};
        auth += user;
        auth += static_cast<char>(pass.size());
        auth += pass;
        if (!sendAll(fd.get(), auth)) return std::nullopt;
        if (receive(fd.get(), 2) != std::string{'\x01', '\x00'}) return std::nullopt;
    }
    std::string connect{'\x05', '\x01', '\x00', '\x01', '\x7f', '\x00', '\x00', '\x01'};
    connect += static_cast<char>(target >> 8);
    connect += static_cast<char>(target & 0xff);
    if (!sendAll(fd.get(), connect)) return std::nullopt;
    auto reply = receive(fd.get(), 10);
    if (reply.size() != 10 || reply[1] != '\x00') return std::nullopt;
    sendAll(fd.get(), "GET / HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    return receive(fd.get(), 1 << 16);
}

bool accepts(std::uint16_t port) { return static_cast<bool>(connectTo(port)); }

ChildProcess start(const std::string& program, const std::vector<std::string>& arguments,
                   const std::string& log) {
    ChildProcess::Options options;
    options.output = ChildProcess::Redirect::toFile(log, true);
    options.error = ChildProcess::Redirect::toFile(log);
    return ChildProcess::spawn(program, arguments, options);
}

} // namespace

TEST(V2rayInterop, GeneratedClientConfigurationCarriesTraffic) {
    if (!std::filesystem::exists(v2ray))
        GTEST_SKIP()
            << v2ray
            << " is missing: the engine interop test needs Debian's v2ray (scripts/setup installs it)";

    test::TempDir dir;
    HttpServer http;

    // The server side: a VLESS inbound on loopback whose traffic leaves directly.
    const std::string uuid = "b831381d-6324-4d53-ad4f-8cda48b30811";
    auto serverPort = static_cast<std::uint16_t>(LocalSocks::allocate().port);
    nlohmann::json serverConfig = {
        {"log", {{"loglevel", "warning"}}},
        {"inbounds",
         {{{"listen", "127.0.0.1"},
           {"port", serverPort},
           {"protocol", "vless"},
           {"settings", {{"clients", {{{"id", uuid}}}}, {"decryption", "none"}}}}}},
        {"outbounds", {{{"protocol", "freedom"}}}}};
    test::writeFile(dir / "server.json", serverConfig.dump(2));
    auto server = start(v2ray, {"-config", dir / "server.json"}, dir / "server.log");
    ASSERT_TRUE(test::waitUntil([&] { return accepts(serverPort); }, 20s))
        << "server engine did not listen:\n"
        << test::readFile(dir / "server.log");

    // The client side: exactly what the service writes and how it starts the engine.
    auto link = Vless::parse("vless://" + uuid + "@127.0.0.1:" + std::to_string(serverPort) +
                             "?encryption=none&type=tcp#%D0%A2%D0%B5%D1%81%D1%82");
    auto socks = LocalSocks::allocate();
    test::writeFile(dir / "config.gen.json", XrayConfig::build(link, false, "", "", socks, false, false));
    test::writeFile(dir / "xray", test::readFile(test::fixture("xray-v2ray")), 0755);
    auto client = start(dir / "xray", {"run", "-config", dir / "config.gen.json"}, dir / "client.log");
    auto socksPort = static_cast<std::uint16_t>(socks.port);
    ASSERT_TRUE(test::waitUntil([&] { return accepts(socksPort) || !client.running(); }, 20s));
    ASSERT_TRUE(client.running()) << "client engine ended:\n" << test::readFile(dir / "client.log");

    auto answer = getThroughSocks(socksPort, http.port(), socks.user, socks.pass);
    ASSERT_TRUE(answer.has_value()) << test::readFile(dir / "client.log")
                                    << test::readFile(dir / "server.log");
    EXPECT_TRUE(answer->starts_with("HTTP/1.0 200 OK")) << *answer;
    EXPECT_TRUE(answer->ends_with(body)) << *answer;
    EXPECT_EQ(http.requests(), 1);

    // Without the password, or with another one, the inbound lets nobody through.
    EXPECT_EQ(getThroughSocks(socksPort, http.port(), "", ""), std::nullopt);
    EXPECT_EQ(getThroughSocks(socksPort, http.port(), socks.user, LocalSocks::randomHex(16)), std::nullopt);
    EXPECT_EQ(http.requests(), 1);

    EXPECT_TRUE(client.stop(2s));
    EXPECT_TRUE(server.stop(2s));
}

// The real service with Debian's v2ray as its engine, against a v2ray VLESS server on
// loopback: traffic through the service's SOCKS port reaches a loopback web server, and the
// exit-address check and the speed test reach their loopback stand-ins.
#include <arpa/inet.h>
#include <curl/curl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <nlohmann/json.hpp>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>

#include "ChildProcess.h"
#include "DaemonClient.h"
#include "FileDescriptor.h"
#include "LocalSocks.h"
#include "Paths.h"
#include "ServiceMachine.h"
#include "TestSupport.h"

using namespace orvex;
using namespace std::chrono_literals;

namespace {

const std::string v2ray = "/usr/bin/v2ray";
const std::string uuid = "b831381d-6324-4d53-ad4f-8cda48b30811";

// One cpp-httplib server on a free loopback port, on its own thread.
class LoopbackServer {
public:
    LoopbackServer() {
        server_.Get("/", [](const httplib::Request&, httplib::Response& response) {
            response.set_content("203.0.113.77\n", "text/plain");
        });
        server_.Get("/page", [](const httplib::Request&, httplib::Response& response) {
            response.set_content("through the tunnel", "text/plain");
        });
        server_.Get("/__down", [](const httplib::Request& request, httplib::Response& response) {
            auto bytes = std::stoul(request.get_param_value("bytes"));
            response.set_content(std::string(bytes, 'x'), "application/octet-stream");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        test::waitUntil([this] { return server_.is_running(); });
    }
    ~LoopbackServer() {
        server_.stop();
        thread_.join();
    }
    int port() const { return port_; }
    std::string base() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
};

bool accepts(int port) {
    FileDescriptor fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    return ::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

size_t collect(char* data, size_t size, size_t count, void* into) {
    static_cast<std::string*>(into)->append(data, size * count);
    return size * count;
}

// The body of a GET through `proxy`; nothing when the proxy or the server refused.
std::optional<std::string> getThrough(const std::string& proxy, const std::string& url) {
    std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), &curl_easy_cleanup);
    std::string body;
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_PROXY, proxy.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, 10L);
    curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &collect);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &body);
    if (curl_easy_perform(curl.get()) != CURLE_OK) return std::nullopt;
    long code = 0;
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &code);
    if (code != 200) return std::nullopt;
    return body;
}

} // namespace

TEST(ServiceInterop, TrafficExitAddressAndSpeedTestWithARealEngine) {
    if (!std::filesystem::exists(v2ray))
        GTEST_SKIP() << v2ray << " is missing: scripts/setup installs Debian's v2ray";
    LoopbackServer web;
    test::ScopedEnv exitIP("ORVEX_EXIT_IP_URL", web.base());
    test::ScopedEnv speed("ORVEX_SPEEDTEST_URL", web.base());
    test::ServiceMachine machine;
    machine.useEngine("xray", test::fixture("xray-v2ray"));
    // The country split routes by v2ray's own geo files, which the fake data files are not.
    test::writeFile(machine.stateDir() + "/split.state", "0");

    // The server: a VLESS inbound on loopback whose traffic leaves directly.
    int serverPort = static_cast<int>(LocalSocks::allocate().port);
    nlohmann::json serverConfig = {
        {"log", {{"loglevel", "warning"}}},
        {"inbounds",
         {{{"listen", "127.0.0.1"},
           {"port", serverPort},
           {"protocol", "vless"},
           {"settings", {{"clients", {{{"id", uuid}}}}, {"decryption", "none"}}}}}},
        {"outbounds", {{{"protocol", "freedom"}}}}};
    test::writeFile(machine.root() + "/server.json", serverConfig.dump());
    ChildProcess::Options options;
    options.output = ChildProcess::Redirect::toFile(machine.root() + "/server.log");
    options.error = options.output;
    auto server = ChildProcess::spawn(v2ray, {"-config", machine.root() + "/server.json"}, options);
    ASSERT_TRUE(test::waitUntil([&] { return accepts(serverPort); }, 20s))
        << test::readFile(machine.root() + "/server.log");

    machine.start();
    auto status = DaemonClient::connect(test::ServiceMachine::link("127.0.0.1", serverPort), "Петля");
    ASSERT_EQ(status.state, TunnelState::connected) << status.message << "\n" << machine.log();

    // The engine's inbound, with the credentials the service generated for it.
    std::string configPath = Paths::generatedConfig();
    struct stat info {};
    ASSERT_EQ(::stat(configPath.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    auto config = nlohmann::json::parse(test::readFile(configPath));
    const auto& inbound = config.at("inbounds").at(0);
    int socksPort = inbound.at("port").get<int>();
    const auto& account = inbound.at("settings").at("accounts").at(0);

    std::string proxy = "socks5h://" + account.at("user").get<std::string>() + ":" +
                        account.at("pass").get<std::string>() + "@127.0.0.1:" + std::to_string(socksPort);
    auto page = getThrough(proxy, web.base() + "page");
    ASSERT_TRUE(page) << test::readFile(machine.root() + "/server.log");
    EXPECT_EQ(*page, "through the tunnel");
    // Without the generated password the inbound lets nobody through.
    EXPECT_FALSE(getThrough("socks5h://127.0.0.1:" + std::to_string(socksPort), web.base() + "page"));

    EXPECT_EQ(DaemonClient::checkInternet().exitIP, "203.0.113.77");
    EXPECT_GT(DaemonClient::speedTest(), 0.0);
    EXPECT_TRUE(machine.waitForLog(" Мбит/с\n"));

    EXPECT_EQ(DaemonClient::disconnect().state, TunnelState::disconnected);
    server.stop();
    EXPECT_TRUE(test::waitUntil([&] { return machine.strayProcesses().empty(); }, 10s));
    EXPECT_EQ(machine.stop(), 0);
}

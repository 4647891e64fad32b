// The real service with Debian's v2ray as its engine, against a v2ray VLESS server on loopback:
// traffic, only with the generated credentials, and the exit-address check and speed test.
#include <curl/curl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>
#include <thread>

#include "ChildProcess.h"
#include "DaemonClient.h"
#include "LocalSocks.h"
#include "Paths.h"
#include "ServiceMachine.h"
#include "TestSupport.h"

using namespace orvex;
using namespace std::chrono_literals;

namespace {

const std::string v2ray = "/usr/bin/v2ray";

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
    long code = 0;
    if (curl_easy_perform(curl.get()) == CURLE_OK)
        curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &code);
    return code == 200 ? std::optional(body) : std::nullopt;
}

} // namespace

TEST(ServiceInterop, TrafficExitAddressAndSpeedTestWithARealEngine) {
    if (!std::filesystem::exists(v2ray))
        GTEST_SKIP() << v2ray << " is missing: scripts/setup installs Debian's v2ray";
    httplib::Server web;
    std::string askedBytes;
    web.Get("/", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("203.0.113.77\n", "text/plain");
    });
    web.Get("/page", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("through the tunnel", "text/plain");
    });
    web.Get("/__down", [&](const httplib::Request& request, httplib::Response& response) {
        askedBytes = request.get_param_value("bytes");
        response.set_content(std::string(std::stoul(askedBytes), 'x'), "application/octet-stream");
    });
    std::string base = "http://127.0.0.1:" + std::to_string(web.bind_to_any_port("127.0.0.1")) + "/";
    struct Serving {
        httplib::Server& server;
        std::thread thread;
        ~Serving() {
            server.stop();
            thread.join();
        }
    } serving{web, std::thread([&] { web.listen_after_bind(); })};
    test::ScopedEnv exitIP("ORVEX_EXIT_IP_URL", base);
    test::ScopedEnv speed("ORVEX_SPEEDTEST_URL", base);
    test::ServiceMachine machine;
    std::filesystem::remove(machine.engine().engineDir() + "/xray");
    std::filesystem::create_symlink(test::fixture("xray-v2ray"), machine.engine().engineDir() + "/xray");
    // The country split routes by v2ray's own geo files, which the fake data files are not.
    test::writeFile(machine.stateDir() + "/split.state", "0");

    // The server: a VLESS inbound on loopback whose traffic leaves directly.
    int serverPort = static_cast<int>(LocalSocks::allocate().port);
    nlohmann::json serverConfig = {
        {"inbounds",
         {{{"listen", "127.0.0.1"},
           {"port", serverPort},
           {"protocol", "vless"},
           {"settings",
            {{"clients", {{{"id", "b831381d-6324-4d53-ad4f-8cda48b30811"}}}}, {"decryption", "none"}}}}}},
        {"outbounds", {{{"protocol", "freedom"}}}}};
    test::writeFile(machine.root() + "/server.json", serverConfig.dump());
    ChildProcess::Options options;
    std::string serverLog = machine.root() + "/server.log";
    options.output = ChildProcess::Redirect::toFile(serverLog);
    options.error = options.output;
    auto server = ChildProcess::spawn(v2ray, {"-config", machine.root() + "/server.json"}, options);
    // v2ray says it has started once its inbound listens.
    ASSERT_TRUE(
        test::waitUntil([&] { return test::readFile(serverLog).find(" started") != std::string::npos; }, 20s))
        << test::readFile(serverLog);

    machine.start();
    auto status = DaemonClient::connect(test::ServiceMachine::link("127.0.0.1", serverPort), "Петля");
    ASSERT_EQ(status.state, TunnelState::connected) << status.message << "\n" << machine.log();

    // The engine's inbound, with the credentials the service generated for it.
    auto config = nlohmann::json::parse(test::readFile(Paths::generatedConfig()));
    const auto& inbound = config.at("inbounds").at(0);
    std::string port = std::to_string(inbound.at("port").get<int>());
    const auto& account = inbound.at("settings").at("accounts").at(0);
    std::string user = account.at("user").get<std::string>();
    EXPECT_EQ(
        getThrough("socks5h://" + user + ":" + account.at("pass").get<std::string>() + "@127.0.0.1:" + port,
                   base + "page"),
        "through the tunnel")
        << test::readFile(serverLog);
    // Without the generated password, or with another one, the inbound lets nobody through.
    EXPECT_FALSE(getThrough("socks5h://127.0.0.1:" + port, base + "page"));
    EXPECT_FALSE(getThrough("socks5h://" + user + ":" + LocalSocks::randomHex(16) + "@127.0.0.1:" + port,
                            base + "page"));

    EXPECT_EQ(DaemonClient::checkInternet().exitIP, "203.0.113.77");
    EXPECT_GT(DaemonClient::speedTest(), 0.0);
    EXPECT_EQ(askedBytes, "10000000");
    EXPECT_TRUE(machine.waitForLog(" Мбит/с\n"));

    EXPECT_EQ(DaemonClient::disconnect().state, TunnelState::disconnected);
    server.stop();
    EXPECT_TRUE(test::waitUntil([&] { return machine.strayProcesses().empty(); }, 10s));
    EXPECT_EQ(machine.stop(), 0);
}

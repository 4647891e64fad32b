#include "DaemonClient.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include "IPCTestServer.h"
#include "Paths.h"
#include "TestSupport.h"
#include "UnixSocket.h"

using namespace orvex;
using nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace {

const char* connectedStatusJSON =
    R"({"state":"connected","serverName":"Финляндия","message":"Подключено",)"
    R"("killSwitchEnabled":true,"killSwitchHold":false,"exitIP":"198.51.100.4",)"
    R"("adBlockEnabled":false})";

TunnelStatus connectedStatus() {
    TunnelStatus status;
    status.state = TunnelState::connected;
    status.serverName = "Финляндия";
    status.message = "Подключено";
    status.killSwitchEnabled = true;
    status.exitIP = "198.51.100.4";
    status.adBlockEnabled = false;
    return status;
}

// The service socket relocated into a fresh folder, as every client call finds it.
class DaemonClientTest : public ::testing::Test {
protected:
    DaemonClientTest() : root_("ORVEX_ROOT", dir_.path()) {
        std::filesystem::create_directories(dir_ / "var/run");
    }

    std::string socket() const { return Paths::socket(); }

    // Runs `call` against a service that answers `response`; returns the request it sent.
    template <typename Call> json exchange(const std::string& response, Call call) {
        test::IPCTestServer server(socket(), response);
        call();
        auto requests = server.requests();
        EXPECT_EQ(requests.size(), 1u);
        return requests.empty() ? json() : json::parse(requests.front());
    }

    test::TempDir dir_;
    test::ScopedEnv root_;
};

std::string refusal(const std::function<void()>& call) {
    try {
        call();
    } catch (const DaemonError& e) {
        EXPECT_EQ(e.kind, DaemonError::Kind::refused);
        return e.what();
    }
    ADD_FAILURE() << "no DaemonError";
    return {};
}

void expectNoAnswer(const std::function<void()>& call) {
    try {
        call();
        ADD_FAILURE() << "no error";
    } catch (const DaemonError& e) {
        EXPECT_EQ(e.kind, DaemonError::Kind::noAnswer);
        EXPECT_STREQ(e.what(), "Фоновая служба не отвечает");
    }
}

} // namespace

TEST_F(DaemonClientTest, OperationsSendTheirRequestAndReadTheirResult) {
    const std::string withStatus = std::string(R"({"ok":true,"status":)") + connectedStatusJSON + "}";

    json sent = exchange(withStatus, [] { EXPECT_EQ(DaemonClient::status(), connectedStatus()); });
    EXPECT_EQ(sent, json::parse(R"({"method":"status","loggingEnabled":false,"killSwitchEnabled":false,
        "adBlockEnabled":true})"));

    sent = exchange(withStatus, [] {
        EXPECT_EQ(DaemonClient::connect("vless://u@h:443", "Финляндия"), connectedStatus());
    });
    EXPECT_EQ(sent["method"], "connect");
    EXPECT_EQ(sent["vlessRaw"], "vless://u@h:443");
    EXPECT_EQ(sent["serverName"], "Финляндия");

    // Methods whose status is optional fall back to the neutral status.
    exchange(R"({"ok":true})",
             [] { EXPECT_EQ(DaemonClient::connect("vless://x", ""), TunnelStatus::neutral()); });
    exchange(R"({"ok":true})", [] { EXPECT_EQ(DaemonClient::disconnect(), TunnelStatus::neutral()); });
    exchange(R"({"ok":true})", [] { EXPECT_EQ(DaemonClient::checkInternet(), TunnelStatus::neutral()); });

    sent = exchange(withStatus, [] { EXPECT_EQ(DaemonClient::setKillSwitch(true), connectedStatus()); });
    EXPECT_EQ(sent["method"], "set_kill_switch");
    EXPECT_EQ(sent["killSwitchEnabled"], true);
    // Not looked at: a refusal still yields the status sent.
    exchange(std::string(R"({"ok":false,"error":"нет","status":)") + connectedStatusJSON + "}",
             [] { EXPECT_EQ(DaemonClient::setKillSwitch(false), connectedStatus()); });

    sent = exchange(withStatus, [] {
        auto [status, needReconnect] = DaemonClient::setAdBlock(false);
        EXPECT_EQ(status, connectedStatus());
        EXPECT_FALSE(needReconnect);
    });
    EXPECT_EQ(sent["method"], "set_ad_block");
    EXPECT_EQ(sent["adBlockEnabled"], false);
    exchange(R"({"ok":true,"needReconnect":true})", [] {
        auto result = DaemonClient::setAdBlock(true);
        EXPECT_EQ(result.status, TunnelStatus::neutral());
        EXPECT_TRUE(result.needReconnect);
    });

    sent = exchange(R"({"ok":false,"error":"не пишется"})", [] { DaemonClient::setLogging(true); });
    EXPECT_EQ(sent["method"], "set_logging");
    EXPECT_EQ(sent["loggingEnabled"], true);

    exchange(R"({"ok":true,"mbps":87.5})", [] { EXPECT_EQ(DaemonClient::speedTest(), 87.5); });

    sent = exchange(R"({"ok":true})", [] { DaemonClient::installUpdate("3.1.0"); });
    EXPECT_EQ(sent["method"], "install_update");
    EXPECT_EQ(sent["version"], "3.1.0");
    EXPECT_FALSE(sent.contains("vlessRaw"));
}

TEST_F(DaemonClientTest, RefusalsCarryTheServiceTextOrTheFallback) {
    const std::pair<const char*, std::function<void()>> cases[] = {
        {"не удалось подключиться", [] { DaemonClient::connect("vless://x", "s"); }},
        {"не удалось отключиться", [] { DaemonClient::disconnect(); }},
        {"не удалось изменить настройку", [] { DaemonClient::setAdBlock(true); }},
        {"замер не удался", [] { DaemonClient::speedTest(); }},
        {"обновление не установлено", [] { DaemonClient::installUpdate("3.1.0"); }},
    };
    for (const auto& [fallback, call] : cases) {
        exchange(R"({"ok":false})", [&] { EXPECT_EQ(refusal(call), fallback); });
        // An empty reason would leave the user a blank message.
        exchange(R"({"ok":false,"error":""})", [&] { EXPECT_EQ(refusal(call), fallback); });
        exchange(R"({"ok":false,"error":"движок не запустился: \/usr\/bin"})",
                 [&] { EXPECT_EQ(refusal(call), "движок не запустился: /usr/bin"); });
    }
    exchange(R"({"ok":true})",
             [] { EXPECT_EQ(refusal([] { DaemonClient::speedTest(); }), "замер не удался"); });
    // The application reuses the refusal for texts of its own.
    EXPECT_STREQ(DaemonError::refused("своя причина").what(), "своя причина");
}

TEST_F(DaemonClientTest, MissingOrUnreadableAnswers) {
    // status() needs a status even when ok.
    exchange(R"({"ok":true})", [&] { expectNoAnswer([] { DaemonClient::status(); }); });
    {
        test::IPCTestServer closes(socket(), [](int fd) { UnixSocket::readUntilNewline(fd); });
        expectNoAnswer([] { DaemonClient::status(); });
        EXPECT_FALSE(DaemonClient::isRunning());
    }
    exchange(R"({"ok":true,"status":{"state":"paused"}})",
             [] { EXPECT_THROW(DaemonClient::status(), IPCDecodeError); });
    exchange("not json", [] { EXPECT_THROW(DaemonClient::disconnect(), IPCDecodeError); });
    exchange("not json", [] { EXPECT_FALSE(DaemonClient::isRunning()); });
    exchange(R"({"ok":false})", [] { EXPECT_FALSE(DaemonClient::isRunning()); });
    json sent = exchange(R"({"ok":true})", [] { EXPECT_TRUE(DaemonClient::isRunning()); });
    EXPECT_EQ(sent, json::parse(R"({"method":"ping","loggingEnabled":false,"killSwitchEnabled":false,
        "adBlockEnabled":true})"));
}

TEST_F(DaemonClientTest, NoServiceFailsAtOnce) {
    auto start = Clock::now();
    EXPECT_FALSE(DaemonClient::isRunning());
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 1.5);
    try {
        DaemonClient::status();
        FAIL();
    } catch (const UnixSocket::SocketError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("не удалось подключиться к службе: ", 0), 0u) << e.what();
    }
}

TEST_F(DaemonClientTest, SilentServiceTimesOutAsNoAnswer) {
    test::IPCTestServer silent(socket(), [](int fd) {
        UnixSocket::readUntilNewline(fd);
        char byte;
        while (::read(fd, &byte, 1) > 0) {
        }
    });
    auto start = Clock::now();
    expectNoAnswer([] { DaemonClient::status(); });
    double waited = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_GE(waited, 4.9);
    EXPECT_LT(waited, 15.0);
}

// The service's request handling and accept loop, in-process over a real socket, with a
// tunnel whose engine folder is empty: what the application sees, what the log keeps, that
// silent or trickling clients can neither starve the status poll nor hold a worker for ever,
// and that no failure but the listening socket's own ends the loop.
#include "DaemonDispatch.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "DaemonClient.h"
#include "Log.h"
#include "Paths.h"
#include "SocketPlatform.h"
#include "TestSupport.h"
#include "Tunnel.h"
#include "UnixSocket.h"
#include "WorkerPool.h"

using namespace orvex;
using namespace std::chrono_literals;

namespace {

// A service without the process around it: the accept loop on its own thread.
class InProcessService {
public:
    explicit InProcessService(Daemon::Intake intake = {})
        : root_("ORVEX_ROOT", dir_.path()), home_("HOME", dir_ / "home"),
          exitIP_("ORVEX_EXIT_IP_URL", "http://127.0.0.1:1/") {
        std::filesystem::create_directories(dir_ / "var/run");
        std::filesystem::create_directories(dir_ / "engine");
        test::writeFile(Paths::daemonLogDir() + "/logging.on", "");
        log_ = std::make_unique<Log>(Paths::daemonLogDir(), "service");
        auto environment = Tunnel::Environment::production();
        std::string engine = dir_ / "engine";
        environment.engineDir = [engine] { return engine; };
        tunnel_ = std::make_shared<Tunnel>(*log_, environment);
        listening_ = UnixSocket::listen(Paths::socket());
        thread_ = std::thread([this, intake = std::move(intake)] {
            Daemon::serve(listening_.get(), tunnel_, *log_, Daemon::maxConnections, intake);
        });
    }
    ~InProcessService() {
        ::shutdown(listening_.get(), SHUT_RDWR);
        thread_.join();
    }

    Log& log() { return *log_; }
    std::string logText() {
        log_->flush();
        return test::readFile(log_->filePath());
    }
    const test::TempDir& dir() const { return dir_; }

private:
    test::TempDir dir_;
    test::ScopedEnv root_;
    test::ScopedEnv home_;
    test::ScopedEnv exitIP_;
    std::unique_ptr<Log> log_;
    std::shared_ptr<Tunnel> tunnel_;
    FileDescriptor listening_;
    std::thread thread_;
};

IPCResponse exchange(const std::string& line) {
    return IPCResponse::decode(UnixSocket::request(Paths::socket(), line, 10));
}

IPCRequest requestFor(IPCMethod method) {
    IPCRequest request;
    request.method = method;
    return request;
}

} // namespace

TEST(Daemon, AnswersEveryMethodAndLogsAllButThePolls) {
    InProcessService service;

    // A client that closes without writing gets nothing and leaves no line.
    EXPECT_EQ(UnixSocket::request(Paths::socket(), "", 5), "");
    EXPECT_TRUE(DaemonClient::isRunning());
    auto status = DaemonClient::status();
    EXPECT_EQ(status.state, TunnelState::disconnected);
    EXPECT_EQ(service.logText(), "");

    DaemonClient::disconnect();
    std::string log = service.logText();
    EXPECT_NE(log.find("[service] -> disconnect\n"), std::string::npos) << log;
    EXPECT_NE(log.find("[service] <- ok\n"), std::string::npos) << log;

    auto missingLink = DaemonClient::send(requestFor(IPCMethod::connect), 5);
    EXPECT_EQ(missingLink, IPCResponse::failure("пустой конфиг сервера"));
    IPCRequest emptyLink = requestFor(IPCMethod::connect);
    emptyLink.vlessRaw = "";
    EXPECT_EQ(DaemonClient::send(emptyLink, 5), IPCResponse::failure("пустой конфиг сервера"));
    EXPECT_NE(service.logText().find("<- ошибка: пустой конфиг сервера\n"), std::string::npos);

    // A connect that fails carries the tunnel's own text and the status it left.
    IPCRequest connect = requestFor(IPCMethod::connect);
    connect.vlessRaw = "vless://b831381d-6324-4d53-ad4f-8cda48b30811@203.0.113.9:443?type=tcp";
    connect.serverName = "Нидерланды";
    auto failed = DaemonClient::send(connect, 10);
    std::string missing = "не найден файл движка: " + (service.dir() / "engine/xray");
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(failed.error, missing);
    ASSERT_TRUE(failed.status.has_value());
    EXPECT_EQ(failed.status->state, TunnelState::error);
    EXPECT_EQ(failed.status->message, missing);

    // Undecodable requests are answered, never dropped.
    for (std::string line : {std::string("not json"), std::string(R"({"method":"ping"})"),
                             std::string(R"({"method":"reboot","loggingEnabled":false,)"
                                         R"("killSwitchEnabled":false,"adBlockEnabled":true})")}) {
        auto response = exchange(line);
        EXPECT_FALSE(response.ok) << line;
        ASSERT_TRUE(response.error.has_value()) << line;
        EXPECT_TRUE(response.error->starts_with("не разобран запрос: ")) << *response.error;
        EXPECT_FALSE(response.status.has_value());
    }

    // A missing or malformed version never reaches the updater's downloads.
    IPCRequest update = requestFor(IPCMethod::installUpdate);
    EXPECT_EQ(DaemonClient::send(update, 5), IPCResponse::failure("не указана версия обновления"));
    update.version = "2.0.0b";
    EXPECT_EQ(DaemonClient::send(update, 5), IPCResponse::failure("недопустимый номер версии"));

    auto speed = DaemonClient::send(requestFor(IPCMethod::speedTest), 10);
    EXPECT_EQ(speed, IPCResponse::failure("замер возможен только при подключённом туннеле"));

    auto adBlock = DaemonClient::setAdBlock(false);
    EXPECT_FALSE(adBlock.needReconnect);
    EXPECT_FALSE(adBlock.status.adBlockEnabled);
    EXPECT_TRUE(DaemonClient::setKillSwitch(true).killSwitchEnabled);
    EXPECT_EQ(DaemonClient::checkInternet().exitIP, "");
}

TEST(Daemon, SetLoggingSwitchesTheServiceLogAndSaysSo) {
    InProcessService service;
    service.log().setEnabled(false);
    DaemonClient::disconnect(); // not written: logging is off
    DaemonClient::setLogging(true);
    EXPECT_TRUE(std::filesystem::exists(Paths::daemonLogDir() + "/logging.on"));
    std::string log = service.logText();
    EXPECT_EQ(log.find("disconnect"), std::string::npos) << log;
    EXPECT_EQ(log.find("-> set_logging"), std::string::npos) << log;
    EXPECT_NE(log.find("[service] логирование демона: true\n"), std::string::npos) << log;
    EXPECT_NE(log.find("<- ok\n"), std::string::npos) << log;

    DaemonClient::setLogging(false);
    EXPECT_FALSE(std::filesystem::exists(Paths::daemonLogDir() + "/logging.on"));
    EXPECT_EQ(service.logText().find("логирование демона: false"), std::string::npos);
}

TEST(Daemon, SilentAndTricklingClientsNeitherStarveTheStatusPollNorStayForever) {
    InProcessService service;
    std::vector<pollfd> clients;
    for (int i = 0; i < 200; ++i) {
        clients.push_back({test::idleClient(Paths::socket()).release(), POLLIN, 0});
        ASSERT_GE(clients.back().fd, 0) << i;
    }
    auto started = std::chrono::steady_clock::now();
    // The polls go on being answered while all of them hang.
    for (int i = 0; i < 20; ++i) {
        auto before = std::chrono::steady_clock::now();
        EXPECT_EQ(DaemonClient::status().state, TunnelState::disconnected);
        EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, 8s) << "the polls were not answered in time";

    // Every other client sends a blank every 3 s, never a line feed. Each is closed once the
    // deadline counted from its accept has passed, the trickling ones as soon as the silent.
    size_t open = clients.size();
    auto trickle = started;
    while (open > 0 && std::chrono::steady_clock::now() - started < 30s) {
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(trickle + 3s -
                                                                          std::chrono::steady_clock::now());
        if (::poll(clients.data(), clients.size(), static_cast<int>(std::max(wait.count(), 0L))) == 0) {
            trickle = std::chrono::steady_clock::now();
            for (size_t i = 1; i < clients.size(); i += 2)
                if (clients[i].fd >= 0) ::send(clients[i].fd, " ", 1, SocketPlatform::sendFlags());
        }
        for (auto& client : clients) {
            char buffer[256];
            if (client.fd < 0 || client.revents == 0 || ::read(client.fd, buffer, sizeof buffer) > 0)
                continue;
            FileDescriptor closed(client.fd);
            client.fd = -1;
            --open;
            EXPECT_GE(std::chrono::steady_clock::now() - started, Daemon::requestDeadline - 1s);
        }
    }
    EXPECT_EQ(open, 0u) << "clients still held 30 s after their accept";
}

// Failures of one connection and shortages of descriptors or memory, injected before the real
// accepts: the loop goes on through all of them and says once that it paused.
TEST(Daemon, TheAcceptLoopEndsOnlyWithTheListeningSocket) {
    std::deque<int> acceptFailures = {EMFILE, ENOMEM, ENFILE, ECONNABORTED, EPROTO};
    std::atomic<int> preparesToFail{1};
    Daemon::Intake intake;
    intake.accept = [&](int listening) {
        if (acceptFailures.empty()) return SocketPlatform::acceptStream(listening);
        errno = acceptFailures.front();
        acceptFailures.pop_front();
        return -1;
    };
    // As macOS reports a client that connected and closed at once.
    intake.prepare = [&](int fd) {
        if (preparesToFail-- <= 0) return SocketPlatform::prepare(fd);
        errno = EINVAL;
        return -1;
    };
    InProcessService service(intake);
    EXPECT_FALSE(DaemonClient::isRunning()) << "the connection that failed its preparation was answered";
    EXPECT_TRUE(DaemonClient::isRunning());
    std::string log = service.logText();
    EXPECT_EQ(log.find("accept: не хватает ресурсов"), log.rfind("accept: не хватает ресурсов")) << log;
    EXPECT_NE(log.find("приём соединений ненадолго приостановлен: Too many open files\n"), std::string::npos)
        << log;
}

// Tasks that block each get a worker of their own, up to the limit; then idle workers end.
TEST(WorkerPool, GrowsForBlockedTasksUpToItsLimitAndShrinksWhenIdle) {
    WorkerPool pool(8, 1, 100ms);
    std::mutex mutex;
    std::condition_variable changed;
    int running = 0;
    bool release = false;
    for (int i = 0; i < 8; ++i) {
        pool.waitForRoom();
        pool.post([&] {
            std::unique_lock lock(mutex);
            ++running;
            changed.notify_all();
            changed.wait(lock, [&] { return release; });
        });
    }
    EXPECT_TRUE(test::waitUntil([&] {
        std::lock_guard lock(mutex);
        return running == 8;
    }));
    EXPECT_EQ(pool.workers(), 8u);
    auto ninth = std::async(std::launch::async, [&] { pool.waitForRoom(); });
    EXPECT_EQ(ninth.wait_for(200ms), std::future_status::timeout) << "room beyond the limit";
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    changed.notify_all();
    ninth.get();
    EXPECT_TRUE(test::waitUntil([&] { return pool.workers() == 1; }));
}

// Requests of every kind at once, as the application's poll, its actions and a second client
// can send them: each is answered, and the settings end as the last writer left them.
TEST(Daemon, ConcurrentRequestsAreAllAnswered) {
    InProcessService service;
    std::atomic<int> answered{0};
    std::vector<std::thread> clients;
    for (int t = 0; t < 8; ++t)
        clients.emplace_back([t, &answered] {
            for (int i = 0; i < 20; ++i) {
                switch ((t + i) % 5) {
                case 0:
                    DaemonClient::status();
                    break;
                case 1:
                    DaemonClient::setKillSwitch(i % 2 == 0);
                    break;
                case 2:
                    DaemonClient::setAdBlock(i % 2 == 0);
                    break;
                case 3:
                    DaemonClient::disconnect();
                    break;
                case 4:
                    // The engine folder is empty, so a connect fails, or is refused while
                    // another client's runs; one overtaken by a disconnect of another client
                    // is answered with that outcome.
                    try {
                        EXPECT_EQ(DaemonClient::connect("vless://x@203.0.113.9:443", "Сервер").state,
                                  TunnelState::disconnected);
                    } catch (const DaemonError& error) {
                        std::string text = error.what();
                        EXPECT_TRUE(text.starts_with("не найден файл движка: ") ||
                                    text == "уже подключено или подключается")
                            << text;
                    }
                    break;
                }
                ++answered;
            }
        });
    for (auto& client : clients) client.join();
    EXPECT_EQ(answered, 160);
    DaemonClient::setKillSwitch(true);
    DaemonClient::setAdBlock(false);
    auto status = DaemonClient::status();
    EXPECT_TRUE(status.killSwitchEnabled);
    EXPECT_FALSE(status.adBlockEnabled);
}

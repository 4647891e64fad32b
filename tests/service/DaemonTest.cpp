// The service's request handling and accept loop in-process over a real socket, with a tunnel
// whose engine folder is empty: answers, the log, slow clients, and failures of the loop.
#include "DaemonDispatch.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <filesystem>
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

using namespace orvex;
using namespace std::chrono_literals;

namespace {

// A service without the process around it: the accept loop on its own thread.
struct InProcessService {
    explicit InProcessService(Daemon::Intake intake = {}) {
        std::filesystem::create_directories(dir / "var/run");
        std::filesystem::create_directories(dir / "engine");
        test::writeFile(Paths::daemonLogDir() + "/logging.on", "");
        log = std::make_unique<Log>(Paths::daemonLogDir(), "service");
        auto environment = Tunnel::Environment::production();
        environment.engineDir = [engine = dir / "engine"] { return engine; };
        tunnel = std::make_shared<Tunnel>(*log, environment);
        listening = UnixSocket::listen(Paths::socket());
        thread = std::thread([this, intake = std::move(intake)] {
            Daemon::serve(listening.get(), tunnel, *log, Daemon::maxConnections, intake);
        });
    }
    ~InProcessService() {
        ::shutdown(listening.get(), SHUT_RDWR);
        thread.join();
    }
    // The log's messages without their time stamps and name.
    std::string logLines() {
        log->flush();
        std::string text = test::readFile(log->filePath()), lines;
        for (size_t at = 0; (at = text.find("] ", at)) != std::string::npos; at = text.find('\n', at))
            lines += text.substr(at + 2, text.find('\n', at) - at - 1);
        return lines;
    }

    test::TempDir dir;
    test::ScopedEnv root{"ORVEX_ROOT", dir.path()};
    test::ScopedEnv home{"HOME", dir / "home"};
    test::ScopedEnv exitIP{"ORVEX_EXIT_IP_URL", "http://127.0.0.1:1/"};
    std::unique_ptr<Log> log;
    std::shared_ptr<Tunnel> tunnel;
    FileDescriptor listening;
    std::thread thread;
};

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
    EXPECT_EQ(DaemonClient::status().state, TunnelState::disconnected);
    EXPECT_EQ(service.logLines(), "");
    DaemonClient::disconnect();
    EXPECT_EQ(service.logLines(), "-> disconnect\ndisconnect: запрошен\n<- ok\n");

    IPCRequest connect = requestFor(IPCMethod::connect);
    EXPECT_EQ(DaemonClient::send(connect, 5), IPCResponse::failure("пустой конфиг сервера"));
    connect.vlessRaw = "";
    EXPECT_EQ(DaemonClient::send(connect, 5), IPCResponse::failure("пустой конфиг сервера"));
    EXPECT_NE(service.logLines().find("<- ошибка: пустой конфиг сервера\n"), std::string::npos);

    // Undecodable requests are answered, never dropped.
    for (std::string line : {std::string("not json"), std::string(R"({"method":"ping"})"),
                             std::string(R"({"method":"reboot","loggingEnabled":false,)"
                                         R"("killSwitchEnabled":false,"adBlockEnabled":true})")}) {
        auto response = IPCResponse::decode(UnixSocket::request(Paths::socket(), line, 10));
        EXPECT_FALSE(response.ok || response.status) << line;
        EXPECT_TRUE(response.error.value_or("").starts_with("не разобран запрос: ")) << line;
    }

    // A missing version never reaches the updater (tests/service follows the rest of it).
    IPCRequest update = requestFor(IPCMethod::installUpdate);
    EXPECT_EQ(DaemonClient::send(update, 5), IPCResponse::failure("не указана версия обновления"));

    EXPECT_EQ(DaemonClient::send(requestFor(IPCMethod::speedTest), 10),
              IPCResponse::failure("замер возможен только при подключённом туннеле"));
    EXPECT_TRUE(DaemonClient::setKillSwitch(true).killSwitchEnabled);
    EXPECT_EQ(DaemonClient::checkInternet().exitIP, "");

    // Switching logging on is itself logged, its request line is not; switching off is silent.
    service.log->setEnabled(false);
    DaemonClient::disconnect();
    auto before = service.logLines();
    DaemonClient::setLogging(true);
    EXPECT_TRUE(std::filesystem::exists(Paths::daemonLogDir() + "/logging.on"));
    EXPECT_EQ(service.logLines(), before + "логирование демона: true\n<- ok\n");
    DaemonClient::setLogging(false);
    EXPECT_FALSE(std::filesystem::exists(Paths::daemonLogDir() + "/logging.on"));
    EXPECT_EQ(service.logLines().find("логирование демона: false"), std::string::npos);
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
    for (int i = 0; i < 20; ++i) EXPECT_EQ(DaemonClient::status().state, TunnelState::disconnected);
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
    std::string log = service.logLines();
    EXPECT_EQ(log.find("accept: не хватает ресурсов"), log.rfind("accept: не хватает ресурсов")) << log;
    EXPECT_NE(log.find("приём соединений ненадолго приостановлен: Too many open files\n"), std::string::npos)
        << log;
}

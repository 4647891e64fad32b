#include "Daemon.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <pthread.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

#include "DaemonDispatch.h"
#include "DescriptorLimit.h"
#include "Log.h"
#include "Paths.h"
#include "Tunnel.h"
#include "UnixSocket.h"
#include "Updater.h"
#include "WorkerPool.h"

namespace orvex::Daemon {

namespace {

IPCResponse success() {
    IPCResponse response;
    response.ok = true;
    return response;
}

IPCResponse success(TunnelStatus status) {
    IPCResponse response = success();
    response.status = std::move(status);
    return response;
}

// The failed operation's own description: the Russian text of ORVEX's errors, the platform's
// text for everything else.
std::string describe(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& caught) {
        return caught.what();
    } catch (...) {
        return "неизвестная ошибка";
    }
}

// The answer is small enough for the socket buffer; this only bounds a pathological peer.
void limitSends(int fd) {
    timeval limit{};
    limit.tv_sec = static_cast<time_t>(requestDeadline.count());
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

// How long accepting rests when descriptors or memory have run out, unless a connection ends
// (and gives one back) first.
constexpr std::chrono::milliseconds starvedPause{100};

// The socket file as this process created it. A second instance replaces the file with its
// own; the first must then leave the newcomer's file alone when it stops.
struct SocketFile {
    std::string path;
    dev_t device = 0;
    ino_t inode = 0;

    explicit SocketFile(std::string where) : path(std::move(where)) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) == 0) {
            device = info.st_dev;
            inode = info.st_ino;
        }
    }

    void removeIfOurs() const {
        struct stat info {};
        if (::lstat(path.c_str(), &info) == 0 && info.st_dev == device && info.st_ino == inode)
            ::unlink(path.c_str());
    }
};

sigset_t stopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    return signals;
}

// Runs on its own thread for the life of the process; the signals are blocked everywhere, so
// they arrive here and no work ever runs in an asynchronous handler. Requests in flight are
// not waited for.
[[noreturn]] void stopOnSignal(std::shared_ptr<Log> log, std::shared_ptr<Tunnel> tunnel, SocketFile socket) {
    sigset_t signals = stopSignals();
    int number = 0;
    while (sigwait(&signals, &number) != 0) {
    }
    log->write("получен сигнал " + std::to_string(number) + ", останавливаюсь");
    tunnel->disconnect();
    // The listening descriptor stays open until the process ends: closing it under the accept
    // loop, which is blocked on it, could hand its number to the next descriptor opened. With
    // the file gone no client reaches it any more.
    socket.removeIfOurs();
    log->write("демон остановлен");
    log->flush();
    // Not exit(): the other threads are still running and must not watch static objects being
    // destroyed under them.
    std::_Exit(0);
}

} // namespace

IPCResponse dispatch(const IPCRequest& request, Tunnel& tunnel, Log& log) {
    switch (request.method) {
    case IPCMethod::ping:
        return success();
    case IPCMethod::connect: {
        if (!request.vlessRaw || request.vlessRaw->empty())
            return IPCResponse::failure("пустой конфиг сервера");
        try {
            tunnel.connect(*request.vlessRaw, request.serverName.value_or(""), false);
        } catch (...) {
            IPCResponse response = IPCResponse::failure(describe(std::current_exception()));
            response.status = tunnel.currentStatus();
            return response;
        }
        return success(tunnel.currentStatus());
    }
    case IPCMethod::disconnect:
        tunnel.disconnect();
        return success(tunnel.currentStatus());
    case IPCMethod::status:
        return success(tunnel.currentStatus());
    case IPCMethod::setLogging:
        log.setEnabled(request.loggingEnabled);
        log.write(std::string("логирование демона: ") + (request.loggingEnabled ? "true" : "false"));
        return success();
    case IPCMethod::checkInternet:
        return success(tunnel.refreshExitIP());
    case IPCMethod::speedTest: {
        IPCResponse response = success();
        try {
            response.mbps = tunnel.speedTest();
        } catch (...) {
            return IPCResponse::failure(describe(std::current_exception()));
        }
        return response;
    }
    case IPCMethod::setKillSwitch:
        tunnel.setKillSwitch(request.killSwitchEnabled);
        return success(tunnel.currentStatus());
    case IPCMethod::setAdBlock: {
        bool needReconnect = tunnel.setAdBlock(request.adBlockEnabled);
        IPCResponse response = success(tunnel.currentStatus());
        response.needReconnect = needReconnect;
        return response;
    }
    case IPCMethod::installUpdate:
        if (!request.version || request.version->empty())
            return IPCResponse::failure("не указана версия обновления");
        try {
            Updater::install(*request.version, log);
        } catch (...) {
            return IPCResponse::failure(describe(std::current_exception()));
        }
        // Restarting runs the new copy; it waits until this answer has gone out.
        Updater::restartServiceSoon(log);
        return success();
    }
    return IPCResponse::failure("не разобран запрос: неизвестный метод");
}

std::optional<IPCResponse> answer(std::string_view line, Tunnel& tunnel, Log& log) {
    if (line.empty()) return std::nullopt;
    IPCRequest request;
    try {
        request = IPCRequest::decode(line);
    } catch (const IPCDecodeError& error) {
        IPCResponse response = IPCResponse::failure(std::string("не разобран запрос: ") + error.what());
        log.write("<- ошибка: " + *response.error);
        return response;
    }
    // The application's frequent polls would drown the log.
    bool quiet = request.method == IPCMethod::ping || request.method == IPCMethod::status;
    if (!quiet) log.write("-> " + std::string(wireText(request.method)));
    IPCResponse response;
    try {
        response = dispatch(request, tunnel, log);
    } catch (...) {
        // Whatever goes wrong inside one request must not end the service.
        response = IPCResponse::failure(describe(std::current_exception()));
    }
    if (!quiet) log.write(response.ok ? std::string("<- ok") : "<- ошибка: " + response.error.value_or(""));
    return response;
}

void respond(int fd, const IPCResponse& response) {
    try {
        UnixSocket::writeAll(fd, response.encode() + "\n");
    } catch (const UnixSocket::SocketError&) {
        // The client has gone; what the request did stands.
    }
}

void handle(FileDescriptor connection, Tunnel& tunnel, Log& log,
            std::chrono::steady_clock::time_point deadline) {
    std::string line = UnixSocket::readUntilNewline(connection.get(), UnixSocket::messageLimit, deadline);
    if (auto response = answer(line, tunnel, log)) respond(connection.get(), *response);
}

std::size_t connectionCap(std::size_t descriptors) {
    return std::clamp<std::size_t>(descriptors / 2, 8, maxConnections);
}

void serve(int listening, const std::shared_ptr<Tunnel>& tunnel, Log& log, std::size_t cap,
           const Intake& intake) {
    WorkerPool pool(cap);
    bool starved = false;
    for (;;) {
        pool.waitForRoom();
        int fd = intake.accept(listening);
        if (fd < 0) {
            int error = errno;
            auto failure = UnixSocket::classifyAccept(error);
            if (failure == UnixSocket::AcceptFailure::listening) break;
            if (failure == UnixSocket::AcceptFailure::resources) {
                if (!starved)
                    log.write(std::string(
                                  "accept: не хватает ресурсов, приём соединений ненадолго приостановлен: ") +
                              std::strerror(error));
                starved = true;
                pool.rest(starvedPause);
            }
            continue;
        }
        starved = false;
        auto deadline = std::chrono::steady_clock::now() + requestDeadline;
        FileDescriptor connection(fd);
        if (intake.prepare(fd) != 0) continue;
        limitSends(fd);
        // Shared, since a task must be copyable; only the worker ever uses it.
        pool.post([tunnel, &log, deadline, owned = std::make_shared<FileDescriptor>(std::move(connection))] {
            handle(std::move(*owned), *tunnel, log, deadline);
        });
    }
}

int run() {
    // Before any thread exists, so that all of them inherit the mask and only stopOnSignal
    // takes the signals. Child processes start with an empty mask of their own.
    sigset_t signals = stopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    // A library that writes to a pipe or socket whose reader has gone must fail that write,
    // not end the service.
    std::signal(SIGPIPE, SIG_IGN);

    std::size_t cap = connectionCap(DescriptorLimit::raise());

    Paths::ensureDir(Paths::daemonLogDir());
    // Shared with the stop thread, which may still be running when run() returns.
    auto log = std::make_shared<Log>(Paths::daemonLogDir(), "service");
    log->write("демон запускается, label=" + Paths::daemonLabel());

    Tunnel::recoverAfterCrash(*log);
    auto tunnel = std::make_shared<Tunnel>(*log);

    std::string path = Paths::socket();
    FileDescriptor listening;
    try {
        Paths::ensureDir(std::filesystem::path(path).parent_path().string());
        listening = UnixSocket::listen(path);
    } catch (const std::exception& error) {
        log->write("не удалось открыть сокет " + path + ": " + error.what());
        std::fprintf(stderr, "%s\n", error.what());
        log->flush();
        return 1;
    }
    SocketFile socket(path);
    log->write("демон запущен, слушает " + path);

    std::thread(stopOnSignal, log, tunnel, socket).detach();

    serve(listening.get(), tunnel, *log, cap);

    log->write("accept вернул ошибку, демон завершается");
    listening.reset();
    socket.removeIfOurs();
    log->flush();
    return 0;
}

} // namespace orvex::Daemon

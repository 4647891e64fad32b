#include "Tunnel.h"

#include "AtomicFile.h"
#include "Engine.h"
#include "EngineError.h"
#include "FileDescriptor.h"
#include "Log.h"
#include "Paths.h"
#include "ProcessStartTime.h"
#include "RoutingJournal.h"
#include "ScopeGuard.h"
#include "TunnelError.h"
#include "TunnelSettings.h"
#include "Vless.h"
#include "XrayConfig.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace orvex {

namespace {

// How often the connect looks for the bridge's interface.
constexpr std::chrono::milliseconds bridgePoll{20};

constexpr auto orphanGrace = std::chrono::seconds(3);
constexpr auto orphanPoll = std::chrono::milliseconds(50);

std::string folderOf(const std::string& path) { return path.substr(0, path.rfind('/')); }

std::string describe(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& known) {
        return known.what();
    } catch (...) {
        return "неизвестная ошибка";
    }
}

// Where a child's output goes: its own log, emptied at every start. Opened here rather than
// in the child so that a log that cannot be opened sends the output to the null device
// instead of failing the start.
FileDescriptor openEngineLog(const std::string& program) {
    Paths::ensureDir(Paths::daemonLogDir());
    std::string path = Paths::daemonLogDir() + "/engine-" + program.substr(program.rfind('/') + 1) + ".log";
    // At debug level the engine logs every destination visited: readable by root only, also
    // a log left readable by an older version.
    FileDescriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!file) return FileDescriptor(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    ::fchmod(file.get(), 0600);
    return file;
}

bool stillTheSame(const RoutingJournal::Child& child) {
    auto started = ProcessStartTime::of(child.pid);
    return started && *started == child.started;
}

// Not our child any more (its parent was killed), so it cannot be waited for: poll until the
// id no longer names the process we started.
bool stopOrphan(const RoutingJournal::Child& child) {
    ::kill(child.pid, SIGTERM);
    auto deadline = std::chrono::steady_clock::now() + orphanGrace;
    while (stillTheSame(child)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(child.pid, SIGKILL);
            return false;
        }
        std::this_thread::sleep_for(orphanPoll);
    }
    return true;
}

} // namespace

bool Tunnel::Pacer::sleep(Millis pause) {
    std::unique_lock guard(mutex);
    auto seen = raises;
    return !wake.wait_for(guard, pause, [&] { return closed || raises != seen; });
}

void Tunnel::Pacer::raise() {
    {
        std::lock_guard guard(mutex);
        ++raises;
    }
    wake.notify_all();
}

void Tunnel::Pacer::close() {
    {
        std::lock_guard guard(mutex);
        closed = true;
    }
    wake.notify_all();
}

Tunnel::Environment Tunnel::Environment::production() {
    return {Shell::run, &Routing::upInterfaces, [] { return Paths::engineDir(); },
            &RoutingJournal::saveChildren, Timing{}};
}

Tunnel::Tunnel(Log& log) : Tunnel(log, Environment::production()) {}

Tunnel::Tunnel(Log& log, Environment environment)
    : log_(log), environment_(std::move(environment)), pacer_(std::make_shared<Pacer>()) {
    auto production = Environment::production();
    if (!environment_.runner) environment_.runner = production.runner;
    if (!environment_.upInterfaces) environment_.upInterfaces = production.upInterfaces;
    if (!environment_.engineDir) environment_.engineDir = production.engineDir;
    if (!environment_.saveChildren) environment_.saveChildren = production.saveChildren;
    killSwitchEnabled_ = TunnelSettings::killSwitch();
    adBlockEnabled_ = TunnelSettings::adBlock();
    status_.killSwitchEnabled = killSwitchEnabled_;
    status_.adBlockEnabled = adBlockEnabled_;
}

Tunnel::~Tunnel() { pacer_->close(); }

std::string Tunnel::allocTunName() { return allocTunName(Routing::upInterfaces()); }

std::string Tunnel::allocTunName(const std::set<std::string>& up) {
    for (int number = 4; number <= 31; ++number) {
        std::string candidate = "utun" + std::to_string(number);
        if (!up.contains(candidate)) return candidate;
    }
    throw TunnelError::step("нет свободного utun-устройства: все номера заняты другими VPN");
}

TunnelStatus Tunnel::currentStatus() {
    std::lock_guard guard(lock_);
    return status_;
}

void Tunnel::setStatus(TunnelState state, const std::string& serverName, const std::string& message,
                       bool hold) {
    std::lock_guard guard(lock_);
    status_ = {state, serverName, message, killSwitchEnabled_, hold, "", adBlockEnabled_};
}

void Tunnel::raiseGeneration() {
    {
        std::lock_guard guard(lock_);
        ++connectionGeneration_;
    }
    pacer_->raise();
}

std::int64_t Tunnel::generation() {
    std::lock_guard guard(lock_);
    return connectionGeneration_;
}

std::string Tunnel::enginePath(const std::string& name) const {
    return environment_.engineDir() + "/" + name;
}

void Tunnel::connect(const std::string& vlessRaw, const std::string& serverName, bool isReconnect) {
    connectFor(vlessRaw, serverName, isReconnect ? std::optional(generation()) : std::nullopt);
}

bool Tunnel::connectFor(const std::string& vlessRaw, const std::string& serverName,
                        std::optional<std::int64_t> reconnectOf) {
    const bool user = !reconnectOf;
    std::int64_t current;
    {
        std::lock_guard guard(lock_);
        // A second connect of the application waits for nothing: it is refused while the
        // first runs, also before the first has reported connecting.
        if (user && (userConnectRunning_ || status_.state == TunnelState::connecting ||
                     status_.state == TunnelState::connected))
            throw TunnelError::busy();
        if (user) {
            ++connectionGeneration_;
            userConnectRunning_ = true;
        }
        current = user ? connectionGeneration_ : *reconnectOf;
    }
    if (user) pacer_->raise();
    ScopeGuard finished([&] {
        if (!user) return;
        std::lock_guard guard(lock_);
        userConnectRunning_ = false;
    });

    std::lock_guard operation(operation_);
    // A disconnect that came in while this one waited for the operation lock wins.
    if (generation() != current) return false;

    bool held;
    {
        std::lock_guard guard(lock_);
        held = status_.killSwitchHold;
    }
    if (held) {
        log_.write("connect: снимаю блокировку kill switch перед подключением");
        stopKeepingHold();
    }
    setStatus(TunnelState::connecting, serverName, "");
    log_.write("connect: запрошен, сервер=" + serverName);

    try {
        Engine engine = Engine::locate(environment_.engineDir());
        auto link = Vless::parse(vlessRaw);
        bool split = TunnelSettings::split();
        engine.checkCanServe(link, split);
        auto changer = NetworkChanger::forPlatform(log_, environment_.runner, environment_.upInterfaces);

        auto route = NetworkChanger::currentDefaultRoute(environment_.runner);
        if (!route)
            throw TunnelError::step("не удалось определить текущий шлюз — проверьте подключение к сети");
        log_.write("connect: шлюз=" + route->gateway + " локальный адрес=" + route->localIP +
                   " интерфейс=" + route->iface);

        auto socks = LocalSocks::allocate();
        bool blockAds;
        {
            std::lock_guard guard(lock_);
            socks_ = socks;
            blockAds = adBlockEnabled_;
        }

        log_.write(std::string("connect: сплит=") + (split ? "включён" : "выключен"));

        // The transparent inbounds take the captured traffic on ports of their own; the SOCKS
        // one stays, as the readiness and health checks knock on it.
        std::int64_t transparentPort = 0;
        std::int64_t tproxyPort = 0;
        if (changer->transparent()) {
            auto freshPort = [](const std::set<std::int64_t>& taken) {
                std::int64_t port;
                do port = LocalSocks::allocate().port;
                while (taken.contains(port));
                return port;
            };
            transparentPort = freshPort({socks.port});
            tproxyPort = freshPort({socks.port, transparentPort});
        }
        std::string config =
            changer->transparent()
                ? XrayConfig::buildTransparent(link, split, route->localIP, route->iface, socks, blockAds,
                                               log_.isEnabled(), transparentPort, tproxyPort)
                : XrayConfig::build(link, split, route->localIP, route->iface, socks, blockAds,
                                    log_.isEnabled());
        // The file holds the user's id and the local proxy's password: readable by root only.
        std::string configPath = Paths::generatedConfig();
        Paths::ensureDir(folderOf(configPath));
        if (!AtomicFile::write(configPath, config, 0600))
            throw std::system_error(errno != 0 ? errno : EIO, std::generic_category(), configPath);

        start(xray_, engine.program, engine.arguments(configPath), engine.environment);

        auto deadline = std::chrono::steady_clock::now() + environment_.timing.portWait;
        for (;;) {
            if (!xray_->running()) throw EngineError::engineExited("xray");
            if (portAnswers(socks.port)) break;
            if (std::chrono::steady_clock::now() >= deadline) throw EngineError::portNotReady();
            // Wakes at once when the engine ends, which the next round reports.
            xray_->waitFor(environment_.timing.portPoll);
        }
        log_.write("connect: xray поднял локальный порт " + std::to_string(socks.port));

        std::string name;
        if (!changer->transparent()) {
            name = allocTunName(environment_.upInterfaces());
            if (!startBridge(name, socks.proxyURL()))
                throw TunnelError::step("не удалось поднять TUN-интерфейс " + name);
            log_.write("connect: tun2socks поднял интерфейс " + name);
        }

        // A hold in place is replaced by the capture in the same transaction, not lifted first.
        if (changer_ && changer_->transparent()) changer = std::move(changer_);
        changer->configure({name, link.address, route->gateway, blockAds,
                            split ? route->iface : std::string(), transparentPort, tproxyPort});
        changer_ = std::move(changer);

        {
            std::lock_guard guard(lock_);
            // Superseded while the steps ran: the disconnect waiting for the operation lock
            // takes all of this down again, and the status stays what it will report.
            if (connectionGeneration_ != current) return false;
            lastVless_ = vlessRaw;
            lastServer_ = serverName;
            connectedGateway_ = route->gateway;
            connectedIface_ = route->iface;
        }
        setStatus(TunnelState::connected, serverName, "");
        log_.write("connect: готово");
        startHealthMonitor(current);
        return true;
    } catch (...) {
        std::string description = describe(std::current_exception());
        log_.write("connect: ошибка: " + description);
        stopKeepingHold();
        // A newer operation is waiting to set its own state; blocking traffic or reporting
        // an error now would undo what the user has just asked for.
        if (generation() == current && !engageKillSwitch()) setStatus(TunnelState::error, "", description);
        throw;
    }
}

void Tunnel::start(std::optional<ChildProcess>& slot, const std::string& path,
                   const std::vector<std::string>& arguments, const std::vector<std::string>& environment) {
    FileDescriptor output = openEngineLog(path);
    ChildProcess::Options options;
    options.workingDirectory = environment_.engineDir();
    options.environment = environment;
    if (output) {
        options.output = ChildProcess::Redirect::toDescriptor(output.get());
        options.error = ChildProcess::Redirect::toDescriptor(output.get());
    }
    options.held = true;
    auto child = ChildProcess::spawn(path, arguments, options);
    {
        std::lock_guard guard(lock_);
        slot = std::move(child);
    }
    recordChildren();
    slot->proceed();
}

bool Tunnel::startBridge(const std::string& iface, const std::string& proxy) {
    start(tun2socks_, enginePath("tun2socks"), {"-device", "tun://" + iface, "-proxy", proxy});
    // Traffic can flow as soon as the bridge's interface is up; waiting any longer only
    // delays the connect.
    auto deadline = std::chrono::steady_clock::now() + environment_.timing.bridgeSettle;
    for (;;) {
        if (!tun2socks_->running()) return false;
        if (Routing::interfaceUp(environment_.runner, iface)) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        tun2socks_->waitFor(bridgePoll);
    }
}

void Tunnel::recordChildren() {
    std::vector<RoutingJournal::Child> children;
    {
        std::lock_guard guard(lock_);
        for (auto [process, name] : {std::pair{&xray_, "xray"}, std::pair{&tun2socks_, "tun2socks"}}) {
            if (!*process || !(*process)->running()) continue;
            pid_t pid = (*process)->pid();
            if (auto started = ProcessStartTime::of(pid)) children.push_back({pid, *started, name});
        }
    }
    if (!environment_.saveChildren(children))
        log_.write("движок: не удалось записать список процессов " + RoutingJournal::childrenPath());
}

void Tunnel::stopProcesses() {
    if (changer_) {
        changer_->teardown();
        changer_.reset();
    }
    stopEngines();
}

void Tunnel::stopKeepingHold() {
    bool keep;
    {
        std::lock_guard guard(lock_);
        keep = killSwitchEnabled_ && changer_ && changer_->transparent();
    }
    if (keep) {
        try {
            changer_->holdTraffic("");
            stopEngines();
            return;
        } catch (const std::exception& error) {
            // The changer has undone itself; what is left goes the usual way.
            log_.write(std::string("kill switch: удержать блокировку не удалось: ") + error.what());
        }
    }
    stopProcesses();
}

void Tunnel::stopEngines() {
    std::optional<ChildProcess> bridge;
    std::optional<ChildProcess> engine;
    {
        std::lock_guard guard(lock_);
        bridge.swap(tun2socks_);
        engine.swap(xray_);
        socks_.reset();
    }
    stopOne(bridge, "tun2socks");
    stopOne(engine, "xray");
    recordChildren();
}

void Tunnel::stopOne(std::optional<ChildProcess>& process, const std::string& name) {
    if (!process || !process->running()) return;
    process->terminate();
    if (!process->waitFor(environment_.timing.stopGrace)) {
        process->kill();
        process->wait();
        log_.write("stop: " + name + " не завершился по-хорошему, снят принудительно");
    }
    process.reset();
}

void Tunnel::disconnect() {
    log_.write("disconnect: запрошен");
    raiseGeneration();
    std::lock_guard operation(operation_);
    stopProcesses();
    setStatus(TunnelState::disconnected, "", "");
}

bool Tunnel::portAnswers(std::int64_t port) {
    if (port <= 0 || port > 65535) return false;
    FileDescriptor fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // Loopback answers at once, refused or accepted; an interrupted attempt counts as no answer
    // and the next round tries again.
    return ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

void Tunnel::recoverAfterCrash(Log& log, const Shell::Runner& runner) {
    for (const auto& child : RoutingJournal::loadChildren()) {
        if (!stillTheSame(child)) continue;
        bool gently = stopOrphan(child);
        log.write("восстановление: остановлен " + child.name + " (pid " + std::to_string(child.pid) +
                  ") от прошлого запуска" + (gently ? "" : ", принудительно"));
    }
    RoutingJournal::removeChildren();
    NetworkChanger::recover(log, runner);
}

} // namespace orvex

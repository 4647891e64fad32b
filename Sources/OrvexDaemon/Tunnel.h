#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "IPCProtocol.h"
#include "LocalSocks.h"
#include "NetworkChanger.h"
#include "Routing.h"
#include "Shell.h"

namespace orvex {

class Log;

// The service's one tunnel: the proxy engine (xray) on a local SOCKS port, the TUN bridge
// (tun2socks) on a utun interface, and the routes and DNS that send all traffic through it
// (on Linux no bridge: the nftables capture hands traffic to the engine's transparent inbound);
// then a health monitor that reconnects after failures and network changes, and the kill
// switch that holds traffic in a dead tunnel when nothing can be restored.
//
// Always owned by a std::shared_ptr (std::make_shared<Tunnel>(log)): the health monitor and
// the paced reconnects run on their own threads and hold the tunnel only through a
// std::weak_ptr, so they end silently once it is gone.
//
// Two locks. `lock_` guards the reported status and the small shared fields and is held only
// for short reads and writes, so currentStatus() answers at once while a connect is running.
// `operation_` serialises the long steps that start or stop processes and change the network,
// so a disconnect that arrives during a connect waits for it and then undoes all of it.
class Tunnel : public std::enable_shared_from_this<Tunnel> {
public:
    using Millis = std::chrono::milliseconds;

    // Every wait of the tunnel; tests shorten them.
    struct Timing {
        Millis portWait{10'000};
        Millis portPoll{100};
        Millis bridgeSettle{1'000};
        Millis stopGrace{3'000};
        Millis firstCheck{3'000};
        Millis checkInterval{3'000};
        std::array<Millis, 3> reconnectPauses{Millis{5'000}, Millis{15'000}, Millis{30'000}};
    };

    // What the tunnel touches outside the process, with the production implementations as
    // defaults.
    struct Environment {
        Shell::Runner runner;                   // the route, ifconfig and networksetup tools
        Routing::InterfaceReader upInterfaces;  // the interfaces that are up now
        std::function<std::string()> engineDir; // the folder of xray, tun2socks and their data
        // Writes the list of our running engine processes (RoutingJournal::saveChildren);
        // false when it could not.
        std::function<bool(const std::vector<RoutingJournal::Child>&)> saveChildren;
        Timing timing;

        static Environment production();
    };

    explicit Tunnel(Log& log);
    Tunnel(Log& log, Environment environment);
    ~Tunnel();
    Tunnel(const Tunnel&) = delete;
    Tunnel& operator=(const Tunnel&) = delete;

    // Starts the tunnel to the server of the `vless://` link. `isReconnect` is false for a
    // request of the application, which is refused with TunnelError::busy while a tunnel is
    // connecting or connected. Throws the error of the failed step (TunnelError, VlessError,
    // EngineError, RoutingError or the platform's) after leaving no process or network change
    // behind, apart from the kill switch's own block when that is enabled.
    void connect(const std::string& vlessRaw, const std::string& serverName, bool isReconnect);
    // Stops everything, kill-switch block included, and ends any monitor or pending reconnect.
    // Never fails.
    void disconnect();
    TunnelStatus currentStatus();

    // Asks the exit-address service which address the machine's traffic leaves from; works in
    // any state and never fails (an unknown address is empty).
    TunnelStatus refreshExitIP();
    // Download speed through the connected tunnel in megabits per second. Throws TunnelError.
    double speedTest();
    // Stores the setting; it decides what the next failure does. Never fails.
    void setKillSwitch(bool enabled);
    // Stores the setting, which takes effect at the next connect; returns whether a new
    // connection is needed for that (the setting changed while connected).
    bool setAdBlock(bool enabled);

    // Run first at service start: stops engine and bridge processes that a killed service
    // left running (only those that are provably the ones it started), then undoes the
    // network changes recorded in the routing journal.
    static void recoverAfterCrash(Log& log, const Shell::Runner& runner = Shell::run);

    // The first of utun4…utun31 that is not up now. Numbers below 4 belong to the system.
    // The bridge creates the interface later, so another program may still take the name in
    // between. Throws TunnelError when every number is taken.
    static std::string allocTunName();
    static std::string allocTunName(const std::set<std::string>& up);

private:
    // Where the background steps sleep: woken early when the generation is raised or the
    // tunnel is destroyed, so a disconnect ends a pending reconnect at once instead of after
    // its pause.
    struct Pacer {
        std::mutex mutex;
        std::condition_variable wake;
        std::uint64_t raises = 0;
        bool closed = false;

        // True when the whole pause passed; false when cut short.
        bool sleep(Millis pause);
        void raise();
        void close();
    };

    // The connect itself; `reconnectOf` is the generation a reconnect belongs to. Returns
    // false when a newer generation made the attempt pointless (nothing is then left running
    // by it for long: the newer operation undoes it).
    bool connectFor(const std::string& vlessRaw, const std::string& serverName,
                    std::optional<std::int64_t> reconnectOf);
    // Starts the program into `slot` and lets it run only once it is on the list of our
    // processes, so that a service killed at any moment leaves nothing the next start misses.
    void start(std::optional<ChildProcess>& slot, const std::string& path,
               const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {});
    // Takes down the network changes, then the engine and the bridge.
    void stopProcesses();
    // As stopProcesses, except that with the kill switch on a capture that can swap in place
    // (the Linux one) becomes the hold in one step and stays: nothing leaves the machine
    // between a lost engine and the next capture.
    void stopKeepingHold();
    void stopEngines();
    void stopOne(std::optional<ChildProcess>& process, const std::string& name);
    bool engageKillSwitch();
    // Starts the bridge on `iface` and waits, at most the settle time, for the interface to be
    // up; false when the bridge ends first or the interface never comes.
    bool startBridge(const std::string& iface, const std::string& proxy);
    void setStatus(TunnelState state, const std::string& serverName, const std::string& message,
                   bool hold = false);
    void raiseGeneration();
    std::int64_t generation();
    void recordChildren();
    std::string enginePath(const std::string& name) const;
    // Whether something accepts a TCP connection on 127.0.0.1:`port` now.
    static bool portAnswers(std::int64_t port);

    // What the monitor does after one check.
    enum class Verdict { healthy, failedOnce, networkChanged, engineStopped, ended };

    void startHealthMonitor(std::int64_t generation);
    static void monitor(std::weak_ptr<Tunnel> weak, std::shared_ptr<Pacer> pacer, std::int64_t generation);
    Verdict check(std::int64_t generation, bool failedBefore, int counter);
    struct LastLink {
        std::string vless;
        std::string server;
    };
    // The first step of every reconnect: when `generation` is still current, stops what runs,
    // shows connecting to the last server and returns the link to reconnect with.
    std::optional<LastLink> beginReconnect(std::int64_t generation);
    static void reconnectNow(const std::weak_ptr<Tunnel>& weak, std::int64_t generation);
    static void attemptReconnect(const std::weak_ptr<Tunnel>& weak, std::int64_t generation, int attempt);

    Log& log_;
    Environment environment_;
    std::shared_ptr<Pacer> pacer_;

    std::mutex operation_;
    std::mutex lock_;
    // Guarded by lock_.
    TunnelStatus status_;
    std::int64_t connectionGeneration_ = 0;
    bool userConnectRunning_ = false;
    std::string lastVless_;
    std::string lastServer_;
    std::string connectedGateway_;
    std::string connectedIface_;
    bool killSwitchEnabled_ = false;
    bool adBlockEnabled_ = true;
    // Written with both locks held, so the holder of operation_ may read them without lock_.
    std::optional<ChildProcess> xray_;
    std::optional<ChildProcess> tun2socks_;
    std::optional<LocalSocks> socks_;
    // Touched only with operation_ held.
    std::unique_ptr<NetworkChanger> changer_;
};

} // namespace orvex

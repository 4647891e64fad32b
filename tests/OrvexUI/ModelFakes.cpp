#include "ModelFakes.h"

#include <QApplication>

#include <algorithm>
#include <thread>

#include "APIClient.h"

namespace orvex::test {

namespace {

// Qt keeps the arguments for the application's lifetime, which is the program's.
int argc = 1;
char name[] = "orvex-tests";
char* argv[] = {name, nullptr};

} // namespace

void ensureQtApplication() {
    if (QCoreApplication::instance() == nullptr) new QCoreApplication(argc, argv);
}

void ensureWidgetApplication(const QString& styleSheet) {
    if (QCoreApplication::instance() != nullptr) return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    auto* application = new QApplication(argc, argv);
    application->setStyleSheet(styleSheet);
}

bool waitWithEvents(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

ScratchDesktop::ScratchDesktop() : server_(servers_.start()) {}

AppEnvironment environment(const std::string& folder, std::shared_ptr<ServiceClient> service,
                           const std::string& apiBase, Desktop& desktop) {
    AppEnvironment env;
    env.service = std::move(service);
    env.api = std::make_shared<APIClient>(std::vector<std::string>{apiBase});
    env.keychain = desktop.keychain;
    env.clock = desktop.clock;
    env.notifications = desktop.centre;
    env.workspace = desktop.workspace;
    env.elevateSelf = [&desktop](const std::string& argument) {
        if (desktop.journal) desktop.journal("elevate " + argument);
        if (desktop.elevation) desktop.elevation(argument);
    };
    env.ping = [](const std::string& host, int) { return host == "down.example" ? -1 : 42; };
    env.autostartEnabled = [] { return false; };
    env.setAutostart = [](bool) { return std::nullopt; };
    env.appLogDir = folder + "/logs";
    env.noticesFile = folder + "/support/notices.json";
    return env;
}

Clock::TimePoint FakeClock::now() {
    static const TimePoint start = std::chrono::steady_clock::now();
    std::lock_guard guard(lock_);
    return start + offset_;
}

void FakeClock::advance(Duration duration) {
    std::lock_guard guard(lock_);
    offset_ += duration;
}

TunnelStatus statusIn(TunnelState state, bool hold) {
    TunnelStatus status;
    status.state = state;
    status.killSwitchHold = hold;
    status.killSwitchEnabled = hold;
    return status;
}

void FakeService::script(const std::function<void(Script&)>& change) {
    std::lock_guard guard(lock_);
    change(script_);
}

void FakeService::hold(const std::string& method) {
    std::lock_guard guard(lock_);
    held_.push_back(method);
}

void FakeService::release(const std::string& method) {
    std::lock_guard guard(lock_);
    std::erase(held_, method);
    changed_.notify_all();
}

bool FakeService::waiting(const std::string& method) {
    std::lock_guard guard(lock_);
    return std::ranges::find(waiting_, method) != waiting_.end();
}

std::vector<std::string> FakeService::journal() {
    std::lock_guard guard(lock_);
    return journal_;
}

void FakeService::note(const std::string& entry) {
    std::lock_guard guard(lock_);
    journal_.push_back(entry);
}

void FakeService::enter(const std::string& method, const std::string& entry) {
    std::unique_lock guard(lock_);
    if (method != "status" && method != "ping") journal_.push_back(entry);
    waiting_.push_back(method);
    changed_.wait(guard, [&] { return std::ranges::find(held_, method) == held_.end(); });
    waiting_.erase(std::ranges::find(waiting_, method));
    if (method != "ping" && script_.failStatus) throw DaemonError::noAnswer();
}

bool FakeService::isRunning() {
    enter("ping", "ping");
    std::lock_guard guard(lock_);
    return script_.running;
}

TunnelStatus FakeService::status() {
    enter("status", "status");
    std::lock_guard guard(lock_);
    return script_.current;
}

TunnelStatus FakeService::connect(const std::string& vlessRaw, const std::string& serverName) {
    enter("connect", "connect " + serverName);
    std::lock_guard guard(lock_);
    (void)vlessRaw;
    script_.current = statusIn(script_.connectResult);
    script_.current.serverName = serverName;
    return script_.current;
}

TunnelStatus FakeService::disconnect() {
    enter("disconnect", "disconnect");
    std::lock_guard guard(lock_);
    script_.current = statusIn(TunnelState::disconnected);
    return script_.current;
}

void FakeService::setLogging(bool enabled) {
    enter("setLogging", enabled ? "logging on" : "logging off");
    std::lock_guard guard(lock_);
    if (script_.failLogging) throw DaemonError::noAnswer();
}

TunnelStatus FakeService::setKillSwitch(bool enabled) {
    enter("setKillSwitch", enabled ? "kill switch on" : "kill switch off");
    std::lock_guard guard(lock_);
    script_.current.killSwitchEnabled = enabled;
    return script_.current;
}

DaemonClient::AdBlockResult FakeService::setAdBlock(bool enabled) {
    enter("setAdBlock", enabled ? "ad block on" : "ad block off");
    std::lock_guard guard(lock_);
    script_.current.adBlockEnabled = enabled;
    return {script_.current, script_.needReconnect};
}

TunnelStatus FakeService::checkInternet() {
    enter("checkInternet", "check internet");
    std::lock_guard guard(lock_);
    script_.current.exitIP = "198.51.100.7";
    return script_.current;
}

void FakeService::installUpdate(const std::string& version) {
    enter("installUpdate", "install update " + version);
    std::function<void()> behaviour;
    {
        std::lock_guard guard(lock_);
        behaviour = script_.installUpdate;
    }
    if (behaviour) behaviour();
}

} // namespace orvex::test

#include "ModelFakes.h"

#include <QApplication>

#include <filesystem>
#include <thread>

#include "APIClient.h"
#include "Paths.h"
#include "TokenStore.h"

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

ScratchDesktop::ScratchDesktop() {
    ensureQtApplication();
    desktop_.journal = [this](const std::string& entry) { service_->note(entry); };
    env_ = environment(dir_.path(), service_, server_->baseURL(), desktop_);
    env_.downloadsDir = [this] { return downloads(); };
    std::filesystem::create_directories(downloads());
}

void ScratchDesktop::link() { TokenStore::save(server_->token(), *desktop_.keychain); }

void ScratchDesktop::installJob() { writeFile(Paths::daemonPlist(), "job"); }

void ScratchDesktop::freshService() {
    service_ = std::make_shared<FakeService>();
    env_.service = service_;
}

std::vector<RecordedRequest> ScratchDesktop::requestsTo(const std::string& path) {
    std::vector<RecordedRequest> found;
    for (const auto& request : server_->requests())
        if (request.path == path) found.push_back(request);
    return found;
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

TunnelStatus statusIn(TunnelState state, bool hold, const std::string& server) {
    TunnelStatus status;
    status.state = state;
    status.killSwitchHold = status.killSwitchEnabled = hold;
    status.serverName = server;
    return status;
}

} // namespace orvex::test

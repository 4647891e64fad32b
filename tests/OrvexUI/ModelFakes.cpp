#include "ModelFakes.h"

#include <QApplication>

#include <filesystem>
#include <thread>

#include "APIClient.h"
#include "Theme.h"

namespace orvex::test {

bool waitWithEvents(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

ScratchDesktop::ScratchDesktop() {
    if (QCoreApplication::instance() == nullptr) {
        // Qt keeps the arguments for the application's lifetime, which is the program's.
        static int argc = 1;
        static char name[] = "orvex-tests";
        static char* argv[] = {name, nullptr};
        qputenv("QT_QPA_PLATFORM", "offscreen");
        (new QApplication(argc, argv))->setStyleSheet(Theme::styleSheet());
    }
    env_.service = service_;
    env_.api = std::make_shared<APIClient>(std::vector<std::string>{server_->baseURL()});
    env_.keychain = keychain_;
    env_.clock = clock_;
    env_.notifications = centre_;
    env_.workspace = workspace_;
    env_.elevateSelf = [this](const std::string& argument) {
        service_->note("elevate " + argument);
        if (elevation_) elevation_(argument);
    };
    env_.ping = [](const std::string& host, int) { return host == "down.example" ? -1 : 42; };
    env_.autostartEnabled = [] { return false; };
    env_.setAutostart = [](bool) { return std::nullopt; };
    env_.appLogDir = dir_ / "logs";
    env_.noticesFile = dir_ / "support/notices.json";
    env_.downloadsDir = [this] { return downloads(); };
    std::filesystem::create_directories(downloads());
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

#pragma once

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "APIServerFixture.h"
#include "AppEnvironment.h"
#include "AppModel.h"
#include "Clock.h"
#include "MemoryKeychain.h"
#include "Notices.h"
#include "NotificationCentre.h"
#include "Paths.h"
#include "ServiceClient.h"
#include "TestSupport.h"
#include "TokenStore.h"
#include "Workspace.h"

namespace orvex::test {

// Polls `condition` with the model thread's events delivered in between, up to `limit`.
bool waitWithEvents(const std::function<bool()>& condition,
                    std::chrono::milliseconds limit = std::chrono::seconds(10));
inline bool idle(AppModel& model) {
    return waitWithEvents([&] { return !model.busy(); });
}

// Time that moves only when a sleep or the test moves it, so waits of minutes take none.
class FakeClock : public Clock {
public:
    TimePoint now() override;
    void sleep(Duration duration) override { advance(duration); }
    void advance(Duration duration);

private:
    std::mutex lock_;
    Duration offset_{};
};

TunnelStatus statusIn(TunnelState state, bool hold = false, const std::string& server = "");

// A service that answers from a script and notes every call but status and ping in a journal
// ("connect <server>", "disconnect", …). Calls of a held method wait until the test releases it.
class FakeService : public ServiceClient {
public:
    struct Script {
        bool running = true;
        TunnelStatus current; // what status() answers
        bool failLogging = false;
        bool needReconnect = false; // setAdBlock's answer
        OptionalText updateRefusal; // installUpdate refuses with it
    };

    bool isRunning() override {
        return enter("ping", "", [](Script& s) { return s.running; });
    }
    TunnelStatus status() override {
        return enter("status", "", [](Script& s) { return s.current; });
    }
    TunnelStatus connect(const std::string&, const std::string& server) override {
        return enter("connect", "connect " + server,
                     [&](Script& s) { return s.current = statusIn(TunnelState::connected, false, server); });
    }
    TunnelStatus disconnect() override {
        return enter("disconnect", "disconnect",
                     [](Script& s) { return s.current = statusIn(TunnelState::disconnected); });
    }
    void setLogging(bool on) override {
        enter("setLogging", on ? "logging on" : "logging off", [](Script& s) {
            if (s.failLogging) throw DaemonError::noAnswer();
        });
    }
    TunnelStatus setKillSwitch(bool on) override {
        return enter("setKillSwitch", on ? "kill switch on" : "kill switch off",
                     [&](Script& s) { return (s.current.killSwitchEnabled = on, s.current); });
    }
    DaemonClient::AdBlockResult setAdBlock(bool on) override {
        return enter("setAdBlock", on ? "ad block on" : "ad block off", [&](Script& s) {
            s.current.adBlockEnabled = on;
            return DaemonClient::AdBlockResult{s.current, s.needReconnect};
        });
    }
    TunnelStatus checkInternet() override {
        return enter("checkInternet", "check internet",
                     [](Script& s) { return (s.current.exitIP = "198.51.100.7", s.current); });
    }
    void installUpdate(const std::string& version) override {
        enter("installUpdate", "install update " + version, [](Script& s) {
            if (s.updateRefusal) throw DaemonError::refused(*s.updateRefusal);
        });
    }

    void script(const std::function<void(Script&)>& change) {
        std::lock_guard guard(lock_);
        change(script_);
    }
    void hold(const std::string& method) {
        std::lock_guard guard(lock_);
        held_.push_back(method);
    }
    void release(const std::string& method) {
        std::lock_guard guard(lock_);
        std::erase(held_, method);
        changed_.notify_all();
    }
    bool waiting(const std::string& method) {
        std::lock_guard guard(lock_);
        return std::ranges::count(waiting_, method) > 0;
    }
    std::vector<std::string> journal() {
        std::lock_guard guard(lock_);
        return journal_;
    }
    void note(const std::string& entry) {
        std::lock_guard guard(lock_);
        journal_.push_back(entry);
    }

private:
    template <typename F>
    std::invoke_result_t<F, Script&> enter(const std::string& method, const std::string& entry, F answer) {
        std::unique_lock guard(lock_);
        if (!entry.empty()) journal_.push_back(entry);
        waiting_.push_back(method);
        changed_.wait(guard, [&] { return std::ranges::count(held_, method) == 0; });
        waiting_.erase(std::ranges::find(waiting_, method));
        return answer(script_);
    }

    std::mutex lock_;
    std::condition_variable changed_;
    Script script_;
    std::vector<std::string> held_, waiting_, journal_;
};

// Records what would have reached the user; refuses every post with `refusal` when it is set.
class RecordingCentre : public NotificationCentre {
public:
    void post(const std::string& title, const std::string& body, Failure failed) override {
        posted.push_back({title, body});
        if (!refusal.empty()) failed(refusal);
    }
    void requestPermission(PermissionAnswer answered) override {
        answered(permission.first, permission.second);
    }

    std::vector<Notices::Notice> posted;
    std::string refusal;
    std::pair<bool, std::string> permission{true, {}};
};

class RecordingWorkspace : public Workspace {
public:
    void openURL(const std::string& url) override { opened.push_back(url); }
    void revealFile(const std::string& path) override { opened.push_back("reveal " + path); }
    void openFile(const std::string& path) override { opened.push_back("open " + path); }
    std::vector<std::string> opened;
};

// A scratch machine under an offscreen QApplication: every fake above, the account server, and
// administrator prompts noted in the service's journal (then running `elevation_` when set).
struct ScratchDesktop {
    ScratchDesktop();
    void link() { TokenStore::save(server_->token(), *keychain_); }
    void installJob() { writeFile(Paths::daemonPlist(), "job"); }
    void freshService() { env_.service = service_ = std::make_shared<FakeService>(); }
    std::unique_ptr<AppModel> model() { return std::make_unique<AppModel>(env_); }
    std::vector<RecordedRequest> requestsTo(const std::string& path);
    std::string downloads() const { return dir_ / "home/Downloads"; }

    TempDir dir_;
    ScopedEnv root_{"ORVEX_ROOT", dir_.path()};
    ScopedEnv home_{"HOME", dir_ / "home"};
    ScopedEnv mirrors_{"ORVEX_UPDATE_MIRRORS", "https://127.0.0.1:9/,https://127.0.0.1:9/"};
    APIServerFixture servers_;
    std::unique_ptr<AccountServer> server_ = servers_.start();
    std::shared_ptr<FakeService> service_ = std::make_shared<FakeService>();
    std::shared_ptr<RecordingCentre> centre_ = std::make_shared<RecordingCentre>();
    std::shared_ptr<RecordingWorkspace> workspace_ = std::make_shared<RecordingWorkspace>();
    std::shared_ptr<MemoryKeychain> keychain_ = std::make_shared<MemoryKeychain>();
    std::shared_ptr<FakeClock> clock_ = std::make_shared<FakeClock>();
    std::function<void(const std::string& argument)> elevation_;
    AppEnvironment env_;
};

} // namespace orvex::test

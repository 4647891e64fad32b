#pragma once

#include <QCoreApplication>
#include <QString>

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
#include "ServiceClient.h"
#include "TestSupport.h"
#include "Workspace.h"

namespace orvex::test {

// The one Qt application object of a test program, made on first use; for widgets an offscreen
// QApplication with `styleSheet`, which must come before anything made a plain QCoreApplication.
void ensureQtApplication();
void ensureWidgetApplication(const QString& styleSheet = QString());

// Polls `condition` with the model thread's events delivered in between, until it holds or
// `limit` passes.
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
        enter("installUpdate", "install update " + version, [](Script&) {});
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

// A notification centre that records what would have reached the user, on the thread that
// posts. With `refusal` set it refuses every post with that description at once; `permission`
// is its answer to the permission request.
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

// The desktop around a model under test: recorded notifications and shell requests, an
// in-memory keychain, the fake clock, and administrator prompts that run `elevation` (when set)
// after noting themselves through `journal`.
struct Desktop {
    // The update check every window starts asks a closed loopback port, never the real mirrors.
    ScopedEnv mirrors{"ORVEX_UPDATE_MIRRORS", "https://127.0.0.1:9/,https://127.0.0.1:9/"};
    std::shared_ptr<RecordingCentre> centre = std::make_shared<RecordingCentre>();
    std::shared_ptr<RecordingWorkspace> workspace = std::make_shared<RecordingWorkspace>();
    std::shared_ptr<MemoryKeychain> keychain = std::make_shared<MemoryKeychain>();
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::function<void(const std::string& argument)> elevation;
    std::function<void(const std::string& entry)> journal;
};

// An environment on `service` and the account server at `apiBase`, with the desktop's fakes
// and the logs and notices under `folder`.
AppEnvironment environment(const std::string& folder, std::shared_ptr<ServiceClient> service,
                           const std::string& apiBase, Desktop& desktop);

// A scratch machine for one interface test: ORVEX_ROOT and HOME in a fresh folder with a
// downloads folder, the account-server fixture, a scripted service whose journal also records
// the administrator prompts, the desktop's fakes and an environment on all of them. Members, so
// that a fixture deriving from it uses them directly.
struct ScratchDesktop {
    ScratchDesktop();
    void link(); // the account's token in the keychain
    void installJob();
    void freshService(); // a new scripted service, in the environment too
    std::unique_ptr<AppModel> model() { return std::make_unique<AppModel>(env_); }
    std::vector<RecordedRequest> requestsTo(const std::string& path);
    std::string downloads() const { return dir_ / "home/Downloads"; }

    TempDir dir_;
    ScopedEnv root_{"ORVEX_ROOT", dir_.path()};
    ScopedEnv home_{"HOME", dir_ / "home"};
    APIServerFixture servers_;
    std::unique_ptr<AccountServer> server_ = servers_.start();
    std::shared_ptr<FakeService> service_ = std::make_shared<FakeService>();
    Desktop desktop_;
    AppEnvironment env_;
};

} // namespace orvex::test

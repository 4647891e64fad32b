#pragma once

#include <QCoreApplication>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "APIServerFixture.h"
#include "AppEnvironment.h"
#include "Clock.h"
#include "DaemonClient.h"
#include "MemoryKeychain.h"
#include "RecordingCentre.h"
#include "ServiceClient.h"
#include "TestSupport.h"
#include "Workspace.h"

namespace orvex::test {

// The one Qt application object of a test program, made on first use.
void ensureQtApplication();
// The same for tests of widgets: an offscreen QApplication with `styleSheet`. Called before
// anything made a plain QCoreApplication.
void ensureWidgetApplication(const QString& styleSheet = QString());

// Polls `condition` with the model thread's events delivered in between, until it holds or
// `limit` passes.
bool waitWithEvents(const std::function<bool()>& condition,
                    std::chrono::milliseconds limit = std::chrono::seconds(10));

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

// A service that answers from a script and writes every call into a journal. Calls of a
// method in `held` wait until the test releases them.
class FakeService : public ServiceClient {
public:
    bool isRunning() override;
    TunnelStatus status() override;
    TunnelStatus connect(const std::string& vlessRaw, const std::string& serverName) override;
    TunnelStatus disconnect() override;
    void setLogging(bool enabled) override;
    TunnelStatus setKillSwitch(bool enabled) override;
    DaemonClient::AdBlockResult setAdBlock(bool enabled) override;
    TunnelStatus checkInternet() override;
    void installUpdate(const std::string& version) override;

    // What the test scripts. Guarded by `lock`: change it under `script()`.
    struct Script {
        bool running = true;
        TunnelStatus current;    // what status() answers
        bool failStatus = false; // status() and the others throw noAnswer
        bool failLogging = false;
        bool needReconnect = false; // setAdBlock's answer
        TunnelState connectResult = TunnelState::connected;
        std::function<void()> installUpdate; // throws to refuse; empty succeeds
    };
    void script(const std::function<void(Script&)>& change);

    // Makes the next calls of `method` wait until release(method).
    void hold(const std::string& method);
    void release(const std::string& method);
    bool waiting(const std::string& method);

    std::vector<std::string> journal(); // "connect <server>", "disconnect", …
    // Shared with the account-server view of the same test, so orders across both show.
    void note(const std::string& entry);

private:
    void enter(const std::string& method, const std::string& entry);

    std::mutex lock_;
    std::condition_variable changed_;
    Script script_;
    std::vector<std::string> held_;
    std::vector<std::string> waiting_;
    std::vector<std::string> journal_;
};

TunnelStatus statusIn(TunnelState state, bool hold = false);

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
    std::function<void(const std::string& entry)> journal; // where prompts note themselves
};

// A scratch machine for one interface test: ORVEX_ROOT and HOME in a fresh folder, the
// account-server fixture, a scripted service and the desktop's fakes. Members, so that a
// fixture that derives from it can use them directly.
struct ScratchDesktop {
    ScratchDesktop();
    TempDir dir_;
    ScopedEnv root_{"ORVEX_ROOT", dir_.path()};
    ScopedEnv home_{"HOME", dir_ / "home"};
    APIServerFixture servers_;
    std::unique_ptr<AccountServer> server_;
    std::shared_ptr<FakeService> service_ = std::make_shared<FakeService>();
    Desktop desktop_;
};

// An environment on `service` and the account server at `apiBase`, with the desktop's fakes
// and the logs and notices under `folder`.
AppEnvironment environment(const std::string& folder, std::shared_ptr<ServiceClient> service,
                           const std::string& apiBase, Desktop& desktop);

} // namespace orvex::test

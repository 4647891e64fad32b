#pragma once

#include <memory>
#include <string>

#include "APIServerFixture.h"
#include "ChildProcess.h"
#include "ServiceMachine.h"
#include "TestSupport.h"

namespace orvex::test {

// The world of the real `orvex` application in tests that run it under a display: the real
// service on a scratch Mac (ORVEX_PLATFORM is "macos" for the object's lifetime, for the
// application and the test alike) whose folder also holds the XDG folders, the account-server
// fixture (which also answers the update checks) whose configuration is a link to the server
// "Нидерланды", and that account's token in the scratch home, so the application starts
// signed in and can connect.
class DesktopMachine {
public:
    // `executable` is the `orvex` program to run.
    explicit DesktopMachine(std::string executable);

    ServiceMachine& service() { return service_; }
    const std::string& root() const { return service_.root(); }

    // Starts the application; it runs until the returned object ends.
    ChildProcess launchApp() const;
    // Whether a running application listens for second starts.
    bool appListening() const;

private:
    std::string executable_;
    ScopedEnv platform_;
    ServiceMachine service_;
    ScopedEnv config_;
    ScopedEnv data_;
    ScopedEnv state_;
    ScopedEnv runtime_;
    ScopedEnv bus_;
    APIServerFixture servers_;
    std::unique_ptr<AccountServer> server_;
    ScopedEnv bases_;
    ScopedEnv mirrors_;
};

} // namespace orvex::test

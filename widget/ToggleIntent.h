#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "Snapshot.h"

namespace orvex::widget {

// The widget's button: asks the running application to toggle the tunnel by leaving a command
// in the shared folder, and when nobody takes it within about 4 s, withdraws it and opens
// "orvexvpn://toggle" instead, which starts the application if need be. Never blocks: the
// waiting is a chain of short timers on the interface thread.
class ToggleIntent {
public:
    using OpenURL = std::function<void(const std::string& url)>;
    // Runs `step` once `delay` has passed, on the caller's thread.
    using After = std::function<void(std::chrono::milliseconds delay, std::function<void()> step)>;
    using Now = std::function<TimePoint()>;

    struct Seams {
        OpenURL openURL;
        After after;
        Now now = std::chrono::system_clock::now;
    };

    static constexpr std::chrono::milliseconds waitStep{100};
    static constexpr int maxChecks = 40;

    explicit ToggleIntent(Seams seams);

    // One press. Returns at once; `finished` runs when the press has had its effect: the
    // application took the command, or the link was opened.
    void perform(std::function<void()> finished = {});

    // The command the application expects, with a fresh id, dated `now`.
    static std::string command(TimePoint now);
    // The desktop's way of opening a link; on Linux it reaches ORVEX through its desktop entry.
    static void openWithDesktop(const std::string& url);

private:
    struct Press;
    void check(const std::shared_ptr<Press>& press);
    void fallBack(const std::function<void()>& finished);

    Seams seams_;
};

} // namespace orvex::widget

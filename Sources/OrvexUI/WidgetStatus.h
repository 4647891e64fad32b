#pragma once

#include "IPCProtocol.h"
#include "Paths.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace orvex {

// The application's side of the exchange with the desktop widget. The widget never talks to
// the application: it reads the status file "widget-status.json" that we write, and leaves a
// one-slot command file "widget-command.json" that we poll, run and delete. Both live in one
// shared folder.
//
// One owner, the application delegate, calls everything on the Qt main thread; the two timers
// tick there too.
class WidgetStatus : public QObject {
public:
    // The status file's record, which the widget decodes field by field.
    struct Snapshot {
        std::string state; // "disconnected" | "connecting" | "connected" | "error"
        std::string server;
        bool blocked = false;
        double updated = 0;                 // seconds since 2001-01-01 00:00:00 UTC, fractional
        std::optional<std::string> pending; // "connect" | "disconnect"
        std::optional<bool> alive;
        // Compact JSON, keys in field order, the optional ones only when set.
        std::string encode() const;
    };
    using Now = std::function<std::chrono::system_clock::time_point()>;

    // `folderMode` is applied to the shared folder when we create it (the widget and, on
    // macOS, every user must be able to write the command file there). `reloadWidgets` asks
    // the desktop to redraw the widget at once; empty where the widget watches the folder.
    explicit WidgetStatus(std::string folder = Paths::sharedDir(), mode_t folderMode = 0777,
                          std::function<void()> reloadWidgets = {}, Now now = std::chrono::system_clock::now,
                          QObject* parent = nullptr);

    // The tunnel's state as the model sees it; writes only when state, server or the update
    // block changed since the last publish, with the pending mark cleared and "alive" true.
    void publish(TunnelState state, const std::string& server, bool blocked);
    // Remembers `snapshot` as the last one and writes it to every target (failures are
    // silent); `reload` asks the widget to redraw at once.
    void write(Snapshot snapshot, bool reload);
    // The status files to write; creates the shared folder on the way.
    std::vector<std::string> targets();

    // Polls the command file every 0.25 s and runs `handler` for each accepted toggle.
    void watchCommands(std::function<void()> handler);
    // Rewrites the last snapshot every 60 s so that the widget can tell a running application
    // from one that died without saying so.
    void startHeartbeat();
    // One heartbeat tick; the heartbeat timer calls it. A pending mark older than 20 s is
    // dropped here: the toggle behind it is long over, and rewriting it would keep the
    // widget's button disabled for good.
    void heartbeat();

    // A toggle has been asked for and has not shown in the status yet.
    void notePending(bool disconnecting);
    // The toggle's action ended or was dropped: drop the mark and write again.
    void clearPending();
    // The application is quitting: keep the last state with "alive" false and no mark.
    void noteAppGone();

    const std::optional<Snapshot>& lastSnapshot() const { return lastSnapshot_; }

    // One poll of the command file.
    void consumeCommand(const std::function<void()>& handler);

private:
    double updatedNow() const;
    // The last snapshot with a fresh "updated"; absent before the first write.
    std::optional<Snapshot> refreshed() const;
    // Remembers and writes `snapshot`, leaving the pending mark's time as it is.
    void store(const Snapshot& snapshot, bool reload);
    static std::optional<std::string> readCommand(const std::string& path);

    const std::string folder_;
    const mode_t folderMode_;
    const std::function<void()> reloadWidgets_;
    const Now now_;

    std::optional<Snapshot> lastSnapshot_;
    std::optional<std::string> lastWritten_;
    std::optional<std::string> lastCommandID_;
    // When the current pending mark was set; the heartbeat's refreshes keep it.
    std::optional<std::chrono::system_clock::time_point> pendingSince_;

    std::function<void()> commandHandler_;
    QTimer commandTimer_;
    QTimer heartbeatTimer_;
};

} // namespace orvex

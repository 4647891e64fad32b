#include "WidgetStatus.h"

#include "AtomicFile.h"
#include "FileDescriptor.h"
#include "Io.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace orvex {

namespace {

using namespace std::chrono_literals;

constexpr auto commandInterval = 250ms;
constexpr auto heartbeatInterval = 60s;
constexpr double staleCommandSeconds = 30;
// The widget stops showing a pending mark 20 s after the file's "updated"; the heartbeat
// refreshes "updated", so it must drop the mark itself.
constexpr auto pendingLifetime = 20s;
// A toggle command is some 80 bytes; anything much larger was not written by the widget.
constexpr size_t maxCommandBytes = 4096;
// The widget decodes "updated" against the reference date of the platform it was first
// written for: 2001-01-01 00:00:00 UTC, in seconds since 1970.
constexpr double referenceDate = 978307200;

double secondsSince1970(std::chrono::system_clock::time_point time) {
    return std::chrono::duration<double>(time.time_since_epoch()).count();
}

} // namespace

std::string WidgetStatus::Snapshot::encode() const {
    nlohmann::ordered_json object = {{"state", state}, {"server", server}, {"blocked", blocked}};
    // Written as the widget's platform writes a date: a whole second count has no fraction.
    double whole = 0;
    if (std::modf(updated, &whole) == 0 && std::abs(whole) < 1e15)
        object["updated"] = static_cast<std::int64_t>(whole);
    else
        object["updated"] = updated;
    if (pending) object["pending"] = *pending;
    if (alive) object["alive"] = *alive;
    // A server name that is not valid UTF-8 is shown with replacement marks rather than
    // leaving the widget on an old status.
    return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

WidgetStatus::WidgetStatus(std::string folder, mode_t folderMode, std::function<void()> reloadWidgets,
                           Now now, QObject* parent)
    : QObject(parent), folder_(std::move(folder)), folderMode_(folderMode),
      reloadWidgets_(std::move(reloadWidgets)), now_(std::move(now)) {
    connect(&commandTimer_, &QTimer::timeout, this, [this] { consumeCommand(commandHandler_); });
    connect(&heartbeatTimer_, &QTimer::timeout, this, [this] { heartbeat(); });
}

void WidgetStatus::publish(TunnelState state, const std::string& server, bool blocked) {
    std::string key = std::string(wireText(state)) + "|" + server + "|" + (blocked ? "true" : "false");
    if (lastWritten_ == key) return;
    lastWritten_ = key;
    write({std::string(wireText(state)), server, blocked, updatedNow(), std::nullopt, true}, true);
}

void WidgetStatus::write(Snapshot snapshot, bool reload) {
    if (snapshot.pending)
        pendingSince_ = now_();
    else
        pendingSince_.reset();
    store(snapshot, reload);
}

std::vector<std::string> WidgetStatus::targets() {
    // The mode goes on only when we make the folder: one that someone else made is theirs.
    std::error_code ignored;
    if (std::filesystem::create_directories(folder_, ignored)) ::chmod(folder_.c_str(), folderMode_);
    return {folder_ + "/widget-status.json"};
}

void WidgetStatus::watchCommands(std::function<void()> handler) {
    commandHandler_ = std::move(handler);
    commandTimer_.start(commandInterval);
}

void WidgetStatus::startHeartbeat() { heartbeatTimer_.start(heartbeatInterval); }

void WidgetStatus::heartbeat() {
    auto snapshot = refreshed();
    if (!snapshot) return;
    snapshot->alive = true;
    if (pendingSince_ && now_() - *pendingSince_ >= pendingLifetime) {
        snapshot->pending.reset();
        pendingSince_.reset();
    }
    store(*snapshot, false);
}

void WidgetStatus::notePending(bool disconnecting) {
    auto snapshot = refreshed();
    if (!snapshot) return;
    snapshot->pending = disconnecting ? "disconnect" : "connect";
    write(*snapshot, true);
}

void WidgetStatus::clearPending() {
    if (!lastSnapshot_ || !lastSnapshot_->pending) return;
    auto snapshot = refreshed();
    snapshot->pending.reset();
    write(*snapshot, true);
}

void WidgetStatus::noteAppGone() {
    auto snapshot = refreshed();
    if (!snapshot) return;
    snapshot->alive = false;
    snapshot->pending.reset();
    write(*snapshot, true);
}

void WidgetStatus::consumeCommand(const std::function<void()>& handler) {
    std::string path = folder_ + "/widget-command.json";
    auto bytes = readCommand(path);
    if (!bytes) return;
    auto command = nlohmann::json::parse(*bytes, nullptr, false);
    if (!command.is_object()) return;
    auto id = command.find("id");
    if (id == command.end() || !id->is_string()) return;

    // Taken from here on, whatever it turns out to be: the widget sees it gone and stops waiting.
    ::unlink(path.c_str());
    if (lastCommandID_ == id->get<std::string>()) return;
    lastCommandID_ = id->get<std::string>();
    auto at = command.find("at");
    double created = at != command.end() && at->is_number() ? at->get<double>() : 0;
    if (secondsSince1970(now_()) - created >= staleCommandSeconds) return;
    auto action = command.find("action");
    if (action == command.end() || *action != "toggle") return;

    if (handler) handler();
    // The next publish writes even an unchanged status, which clears the toggle's mark.
    lastWritten_.reset();
    if (auto snapshot = refreshed()) {
        snapshot->alive = true;
        write(*snapshot, true);
    }
}

double WidgetStatus::updatedNow() const { return secondsSince1970(now_()) - referenceDate; }

std::optional<WidgetStatus::Snapshot> WidgetStatus::refreshed() const {
    if (!lastSnapshot_) return std::nullopt;
    Snapshot snapshot = *lastSnapshot_;
    snapshot.updated = updatedNow();
    return snapshot;
}

void WidgetStatus::store(const Snapshot& snapshot, bool reload) {
    lastSnapshot_ = snapshot;
    std::string bytes = snapshot.encode();
    for (const auto& path : targets()) AtomicFile::write(path, bytes, 0644);
    if (reload && reloadWidgets_) reloadWidgets_();
}

std::optional<std::string> WidgetStatus::readCommand(const std::string& path) {
    // Anyone may be able to write into the shared folder. A FIFO planted there must not block
    // the main thread, a link must not lead us elsewhere, and a huge file must not be read.
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!file) return std::nullopt;
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_size > static_cast<off_t>(maxCommandBytes))
        return std::nullopt;
    // One byte more than allowed tells a file that grew after fstat from one that fits.
    std::string bytes(maxCommandBytes + 1, '\0');
    size_t length = 0;
    while (length < bytes.size()) {
        ssize_t count = Io::read(file.get(), bytes.data() + length, bytes.size() - length);
        if (count < 0) return std::nullopt;
        if (count == 0) break;
        length += static_cast<size_t>(count);
    }
    if (length > maxCommandBytes) return std::nullopt;
    bytes.resize(length);
    return bytes;
}

} // namespace orvex

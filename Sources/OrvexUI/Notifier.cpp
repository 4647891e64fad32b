#include "Notifier.h"

#include "APITypes.h"
#include "AtomicFile.h"
#include "Log.h"
#include "NotificationCentre.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <system_error>

namespace orvex {
namespace {

using json = nlohmann::json;

// Absent and null both mean "not set".
template <typename T> std::optional<T> optionalField(const json& object, const char* key) {
    auto found = object.find(key);
    if (found == object.end() || found->is_null()) return std::nullopt;
    return found->get<T>();
}

} // namespace

Notifier::Notifier(NotificationCentre& centre, Log& log, std::string stateFile)
    : centre_(centre), log_(log), stateFile_(std::move(stateFile)) {}

void Notifier::load() {
    if (loaded_) return;
    loaded_ = true; // before reading: a file that cannot be read is not tried again
    std::ifstream file(stateFile_, std::ios::binary);
    if (!file) return;
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    try {
        json document = json::parse(text);
        const json& expiry = document.at("expiry");
        const json& queue = document.at("queue");
        Notices::ExpiryState decodedExpiry{expiry.at("expiresAt").get<std::string>(),
                                           optionalField<int>(expiry, "notified")};
        Notices::QueueState decodedQueue{optionalField<std::int64_t>(queue, "lastId")};
        auto decodedUpdate = optionalField<std::string>(document, "updateSeen");
        // Only a file that decodes as a whole replaces the defaults.
        expiry_ = std::move(decodedExpiry);
        queue_ = decodedQueue;
        updateSeen_ = std::move(decodedUpdate);
    } catch (const json::exception&) {
        // Not ours or half-written by an older build: the defaults stay, the next save replaces it.
    }
}

void Notifier::save() {
    Paths::ensureDir(std::filesystem::path(stateFile_).parent_path().string());
    nlohmann::ordered_json expiry = {{"expiresAt", expiry_.expiresAt}};
    if (expiry_.notified) expiry["notified"] = *expiry_.notified;
    nlohmann::ordered_json queue = nlohmann::ordered_json::object();
    if (queue_.lastId) queue["lastId"] = *queue_.lastId;
    nlohmann::ordered_json document = {{"expiry", expiry}, {"queue", queue}};
    if (updateSeen_) document["updateSeen"] = *updateSeen_;
    if (!AtomicFile::write(stateFile_, document.dump())) {
        std::system_error error(errno, std::generic_category(), stateFile_);
        log_.write(std::string("состояние уведомлений не сохранено: ") + error.what());
    }
}

void Notifier::show(const std::string& title, const std::string& body) {
    // The refusal may come on any thread and after this call returns: it reaches only the
    // log, which takes writes from every thread, never the notifier's state.
    centre_.post(title, body, [&log = log_, title](const std::string& description) {
        log.write("уведомление не показано (" + title + "): " + description);
    });
}

void Notifier::requestPermission() {
    centre_.requestPermission([&log = log_](bool granted, const std::string& error) {
        if (!granted && !error.empty()) log.write("уведомления: разрешение не получено — " + error);
    });
}

void Notifier::noteTunnel(bool error, bool killSwitchHold) {
    Notices::TunnelSnapshot current{error, killSwitchHold};
    auto event = Notices::tunnel(lastTunnel_, current);
    lastTunnel_ = current;
    if (auto notice = Notices::tunnelText(event)) show(*notice);
}

void Notifier::noteExpiry(std::optional<std::int64_t> daysLeft, const std::optional<std::string>& expiresAt) {
    load();
    if (!daysLeft || !expiresAt || expiresAt->empty()) return;
    auto decision = Notices::expiry(*daysLeft, *expiresAt, expiry_);
    expiry_ = decision.next;
    save();
    if (decision.fire) show(Notices::expiryText(decision.threshold));
}

std::int64_t Notifier::queueSince() {
    load();
    return queue_.since();
}

void Notifier::consumeQueue(const std::vector<NotificationItem>& items, std::int64_t lastId) {
    load();
    if (!queue_.lastId) {
        queue_.lastId = lastId;
        save();
        return;
    }
    std::vector<std::int64_t> ids;
    ids.reserve(items.size());
    for (const auto& item : items) ids.push_back(item.id);
    auto pick = Notices::pickQueue(ids, queue_);
    queue_ = pick.next;
    save();
    for (auto i = pick.from; i < items.size(); ++i) show(items[i].title, items[i].body);
}

void Notifier::noteUpdate(const std::string& version) {
    load();
    if (!Notices::shouldAnnounceUpdate(version, updateSeen_)) return;
    updateSeen_ = version;
    save();
    show(Notices::updateText(version));
}

} // namespace orvex

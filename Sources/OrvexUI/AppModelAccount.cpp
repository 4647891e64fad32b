// The model's side of the account: signing in and out, the account's sign-in methods, codes
// from the bot, and the account's devices, history and promo codes.
#include "AppModel.h"

#include "APIClient.h"
#include "Config.h"
#include "Http.h"
#include "SystemInfo.h"
#include "Text.h"
#include "Texts.h"
#include "TokenStore.h"
#include "Unicode.h"
#include "Workspace.h"

namespace orvex {

namespace {

// How long after the user opened the bot a code arriving by link is taken as the answer.
constexpr auto deepLinkWindow = std::chrono::seconds(300);
constexpr std::int64_t historyLimit = 50;

std::string cleanCode(const std::string& code) { return Text::asciiUpper(Text::trim(code)); }
std::string cleanEmail(const std::string& email) { return Unicode::lowerLatinAndCyrillic(Text::trim(email)); }

} // namespace

// ---- the account's bookkeeping

void AppModel::runForAccount(std::function<void(std::uint64_t)> action) {
    std::uint64_t generation = accountGeneration_;
    run([this, generation, action = std::move(action)] {
        try {
            action(generation);
        } catch (const Gone&) {
            throw;
        } catch (...) {
            // The old account's refusal means nothing to whoever uses the device now.
            if (generation == accountGeneration_) throw;
        }
    });
}

void AppModel::runConfirmed(std::function<std::string()> request, std::function<void()> then) {
    runForAccount([this, request = std::move(request), then = std::move(then)](std::uint64_t generation) {
        std::string confirmation = request();
        onAccount(generation, [&] {
            setNotice(confirmation);
            if (then) then();
        });
    });
}

void AppModel::readAccount(std::string logPrefix, std::function<std::function<void()>()> fetch) {
    assertOwnThread();
    if (!linked_) return;
    spawn([this, generation = accountGeneration_.load(), logPrefix = std::move(logPrefix),
           fetch = std::move(fetch)] {
        std::function<void()> apply;
        try {
            apply = fetch();
        } catch (const std::exception& error) {
            log_->write(logPrefix + error.what());
            onAccount(generation, [&] { setMessage(Texts::humanError(error)); });
            return;
        }
        onAccount(generation, apply);
    });
}

bool AppModel::saveToken(std::uint64_t generation, const std::string& token) {
    std::unique_lock guard(keychainLock_);
    keychainCleared_.wait(guard, [&] { return clearedGeneration_ >= generation; });
    if (generation != accountGeneration_) return false;
    TokenStore::save(token, *env_.keychain); // a failed save only costs the sign-in after a restart
    return true;
}

void AppModel::signIn(std::uint64_t generation, const AuthResponse& answer) {
    if (!saveToken(generation, answer.token)) return;
    onAccount(generation, [&] {
        setLinked(true);
        reload();
    });
}

// ---- signing in and the sign-in methods

void AppModel::link(const std::string& code) {
    std::string clean = cleanCode(code);
    if (clean.empty()) return;
    runForAccount([this, clean](std::uint64_t generation) {
        signIn(generation, env_.api->auth(clean, SystemInfo::hostName()));
    });
}

void AppModel::login(const std::string& email, const std::string& password) {
    std::string clean = cleanEmail(email);
    if (clean.empty() || password.empty()) return;
    runForAccount([this, clean, password](std::uint64_t generation) {
        signIn(generation, env_.api->login(clean, password, SystemInfo::hostName()));
    });
}

void AppModel::registerAccount(const std::string& email, const std::string& password) {
    std::string clean = cleanEmail(email);
    if (clean.empty() || password.empty()) return;
    runConfirmed([this, clean, password] { return env_.api->registerAccount(clean, password).message; });
}

void AppModel::forgotPassword(const std::string& email) {
    std::string clean = cleanEmail(email);
    if (clean.empty()) return;
    runConfirmed([this, clean] { return env_.api->forgotPassword(clean).message; });
}

void AppModel::resetPassword(const std::string& code, const std::string& newPassword) {
    std::string clean = cleanCode(code);
    if (clean.empty() || newPassword.empty()) return;
    runConfirmed([this, clean, newPassword] { return env_.api->resetPassword(clean, newPassword).message; });
}

void AppModel::linkEmail(const std::string& email, const std::string& password) {
    std::string clean = cleanEmail(email);
    if (clean.empty() || password.empty()) return;
    runConfirmed([this, clean, password] { return env_.api->linkEmail(bearer(), clean, password).message; });
}

void AppModel::linkTelegram(const std::string& code) {
    std::string clean = cleanCode(code);
    if (clean.empty()) return;
    runForAccount([this, clean](std::uint64_t generation) {
        AuthResponse answer = env_.api->linkTelegram(bearer(), clean, SystemInfo::hostName());
        // The server issues this device a token of the account the Telegram user has.
        if (!saveToken(generation, answer.token)) return;
        onAccount(generation, [&] {
            setNotice(std::string("Telegram привязан"));
            reload();
        });
    });
}

// ---- codes from the bot

void AppModel::openBotForCode() {
    linkRequestedAt_ = env_.clock->now();
    std::string address = Config::botURL() + "?start=getcode";
    if (Http::isValidURL(address)) env_.workspace->openURL(address);
}

void AppModel::handleDeepLinkCode(const std::string& code) {
    bool expected = linkRequestedAt_ && env_.clock->now() - *linkRequestedAt_ < deepLinkWindow;
    log_->write(std::string("ссылка из бота: код получен, ожидаемая=") + (expected ? "true" : "false"));
    if (expected) {
        linkRequestedAt_.reset();
        // A running action would drop the sign-in, and the code with it.
        if (!busy_) {
            link(code);
            return;
        }
    }
    setPendingLinkCode(code);
}

// ---- signing out

void AppModel::unlink() {
    assertOwnThread();
    std::uint64_t generation = ++accountGeneration_;
    setLinked(false);
    setSubscription(std::nullopt);
    setServers({});
    setSupportMessages({});
    setEvents({});
    setDevices({});
    clearPings();
    setPendingLinkCode(std::nullopt);
    setChangeRetryAfter(0);
    setChangeCooldown(0);
    auto api = env_.api;
    spawn([this, generation, api] {
        std::optional<std::string> token;
        {
            std::lock_guard guard(keychainLock_);
            // A later sign-out has cleared the same token and logged it out already.
            if (clearedGeneration_ >= generation) return;
            token = TokenStore::load(*env_.keychain);
            TokenStore::clear(*env_.keychain);
            clearedGeneration_ = generation;
        }
        keychainCleared_.notify_all();
        try {
            api->logout(token.value_or(""));
        } catch (...) {
            // The device stays signed in on the server's side only; nothing to tell the user.
        }
    });
}

// ---- devices, history and promo codes

void AppModel::loadDevices() {
    readAccount("устройства: ", [this]() -> std::function<void()> {
        DeviceList list = env_.api->devices(bearer()).devices;
        return [this, list] { setDevices(list); };
    });
}

void AppModel::revokeDevice(const DeviceItem& item) {
    runForAccount([this, id = item.id, itself = item.current](std::uint64_t generation) {
        env_.api->revokeDevice(bearer(), id);
        onAccount(generation, [&] {
            if (itself)
                unlink();
            else
                loadDevices();
        });
    });
}

void AppModel::revokeOtherDevices() {
    runConfirmed([this] { return env_.api->revokeOtherDevices(bearer()).message; },
                 [this] { loadDevices(); });
}

void AppModel::loadEvents() {
    readAccount("события: ", [this]() -> std::function<void()> {
        EventList list = env_.api->events(bearer(), historyLimit).events;
        return [this, list] { setEvents(list); };
    });
}

void AppModel::applyPromo(const std::string& code) {
    std::string clean = cleanCode(code);
    if (clean.empty()) return;
    runConfirmed([this, clean] { return Texts::stripEmoji(env_.api->applyPromo(bearer(), clean).message); },
                 [this] {
                     reload(); // the subscription may have grown
                     loadEvents();
                 });
}

} // namespace orvex

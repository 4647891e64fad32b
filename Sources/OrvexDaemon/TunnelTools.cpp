#include "Tunnel.h"

#include "Config.h"
#include "Http.h"
#include "Log.h"
#include "Text.h"
#include "TunnelError.h"
#include "TunnelSettings.h"

#include <algorithm>
#include <cstdio>

// The small tools the application reaches through the service: the exit-address check, the
// speed test and the ad-blocking setting.
namespace orvex {

namespace {

constexpr double exitIPConnectLimit = 8;
constexpr double exitIPOverallLimit = 10;
// An echo service answers with one address; anything much longer is not one.
constexpr std::uint64_t exitIPMaxBytes = 64 * 1024;

constexpr std::uint64_t speedTestBytes = 10'000'000;
constexpr double speedTestConnectLimit = 20;
constexpr double speedTestOverallLimit = 25;

std::string fetchExitIP() {
    Http::Request request;
    request.url = Config::exitIPURL();
    request.timeout = exitIPOverallLimit;
    request.connectTimeout = exitIPConnectLimit;
    request.maxBytes = exitIPMaxBytes;
    try {
        return Text::trim(Text::utf8OrEmpty(Http::perform(request).body));
    } catch (const std::exception&) {
        return "";
    }
}

} // namespace

TunnelStatus Tunnel::refreshExitIP() {
    std::string address = fetchExitIP();
    {
        std::lock_guard guard(lock_);
        status_.exitIP = address;
        status_.killSwitchEnabled = killSwitchEnabled_;
        status_.adBlockEnabled = adBlockEnabled_;
    }
    log_.write("проверка: внешний адрес " + (address.empty() ? std::string("не определён") : address));
    return currentStatus();
}

double Tunnel::speedTest() {
    {
        std::lock_guard guard(lock_);
        if (status_.state != TunnelState::connected)
            throw TunnelError::step("замер возможен только при подключённом туннеле");
    }
    std::string base = Config::speedTestURL();
    if (!base.empty() && base.back() != '/') base += '/';
    std::string url = base + "__down?bytes=" + std::to_string(speedTestBytes);
    if (!Http::isValidURL(url)) throw TunnelError::step("некорректный адрес для замера");

    // Counted as it arrives rather than collected: ten megabytes need not sit in memory.
    std::uint64_t received = 0;
    Http::Request request;
    request.url = url;
    request.timeout = speedTestOverallLimit;
    request.connectTimeout = speedTestConnectLimit;
    request.onData = [&](std::string_view chunk) { received += chunk.size(); };

    auto started = std::chrono::steady_clock::now();
    try {
        Http::perform(request);
    } catch (const Http::TransportError& error) {
        // A transfer cut off by the overall limit has still measured the link for that long;
        // reporting nothing (or zero) for a slow line would be wrong.
        if (error.code != Http::TransportError::Code::timedOut || received == 0)
            throw TunnelError::step(error.what());
    } catch (const std::exception& error) {
        throw TunnelError::step(error.what());
    }
    double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    elapsed = std::max(elapsed, 0.001);
    double mbps = static_cast<double>(received) * 8 / 1'000'000 / elapsed;

    char figure[64];
    std::snprintf(figure, sizeof figure, "%.1f", mbps);
    log_.write(std::string("замер: ") + figure + " Мбит/с");
    return mbps;
}

bool Tunnel::setAdBlock(bool enabled) {
    bool previous;
    {
        std::lock_guard guard(lock_);
        previous = adBlockEnabled_;
        adBlockEnabled_ = enabled;
    }
    TunnelSettings::saveAdBlock(enabled);
    log_.write(std::string("блокировка рекламы: ") + (enabled ? "включена" : "выключена"));
    std::lock_guard guard(lock_);
    status_.killSwitchEnabled = killSwitchEnabled_;
    status_.adBlockEnabled = adBlockEnabled_;
    return previous != enabled && status_.state == TunnelState::connected;
}

} // namespace orvex

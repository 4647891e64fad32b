#include "Updater.h"

#include <chrono>
#include <exception>
#include <filesystem>
#include <functional>
#include <future>
#include <optional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "LaunchdService.h"
#include "Log.h"
#include "Paths.h"
#include "Platform.h"
#include "ScopeGuard.h"
#include "Shell.h"
#include "Unicode.h"
#include "UpdateChecker.h"
#include "UpdaterError.h"

namespace fs = std::filesystem;

namespace orvex::Updater {
namespace {

constexpr size_t longestVersion = 24;
// Any version the manifest offers counts as newer than this one.
constexpr const char* anyVersion = "0.0.0";
constexpr auto manifestWait = std::chrono::seconds(60);
constexpr auto downloadWait = std::chrono::seconds(600);
constexpr double installerLimit = 300;
constexpr auto restartDelay = std::chrono::milliseconds(1500);

// Runs `work` on a thread of its own and waits at most `limit` for it. Nothing when the time
// is up: the work is then left to finish on its own and its result is dropped.
template <typename Result>
std::optional<std::future<Result>> awaitWithin(std::function<Result()> work, std::chrono::seconds limit) {
    std::promise<Result> promise;
    std::future<Result> future = promise.get_future();
    std::thread([work = std::move(work), promise = std::move(promise)]() mutable {
        try {
            promise.set_value(work());
        } catch (...) {
            promise.set_exception(std::current_exception());
        }
    }).detach();
    if (future.wait_for(limit) != std::future_status::ready) return std::nullopt;
    return future;
}

bool isVersionText(const std::string& version) {
    std::u32string characters = Unicode::decodeUTF8(version);
    if (characters.empty() || characters.size() > longestVersion) return false;
    for (char32_t c : characters)
        if (c != U'.' && !Unicode::isNumeric(c)) return false;
    return true;
}

UpdateChecker::Info fetchInfo() {
    auto answer = awaitWithin<std::optional<UpdateChecker::Info>>(
        [] { return UpdateChecker::check(anyVersion, true); }, manifestWait);
    if (!answer) throw UpdaterError::step("манифест не ответил");
    std::optional<UpdateChecker::Info> info;
    try {
        info = answer->get();
    } catch (const std::exception& error) {
        throw UpdaterError::step(std::string("манифест недоступен: ") + error.what());
    }
    if (!info) throw UpdaterError::step("манифест не содержит версии");
    return *info;
}

std::string downloadFolder() {
    std::string folder = Paths::daemonHome() + "/updates";
    Paths::ensureDir(folder);
    // Only root may place or swap the package that root is about to install.
    ::chown(folder.c_str(), 0, 0);
    ::chmod(folder.c_str(), 0700);
    return folder;
}

std::string download(const UpdateChecker::Info& info, const std::string& folder) {
    auto answer = awaitWithin<std::string>(
        [info, folder] { return UpdateChecker::downloadPackage(info, folder, nullptr); }, downloadWait);
    if (!answer) throw UpdaterError::step("загрузка не завершилась");
    std::string package;
    try {
        package = answer->get();
    } catch (const std::exception& error) {
        throw UpdaterError::step(std::string("не удалось скачать пакет: ") + error.what());
    }
    if (package.empty()) throw UpdaterError::step("пакет не скачан");
    return package;
}

} // namespace

void install(const std::string& version, Log& log) {
    if (Platform::current().updateInstall == Platform::UpdateInstall::packageManager)
        throw UpdaterError::step("на Linux новую версию ставит менеджер пакетов, служба её не устанавливает");
    if (!isVersionText(version)) throw UpdaterError::step("недопустимый номер версии");
    log.write("обновление: запрошена версия " + version);

    UpdateChecker::Info info = fetchInfo();
    if (info.version != version)
        throw UpdaterError::step("манифест предлагает версию " + info.version + ", а запрошена " + version);

    std::string package = download(info, downloadFolder());
    log.write("обновление: пакет скачан (" + fs::path(package).filename().string() + ")");
    ScopeGuard dropPackage([&] {
        std::error_code ignored;
        fs::remove(package, ignored);
    });

    Shell::Result installed =
        Shell::run(Paths::relocate("/usr/sbin/installer"), {"-pkg", package, "-target", "/"}, installerLimit);
    if (!installed.ok()) throw UpdaterError::step("установщик отказал: " + installed.output);

    std::string found = UpdateChecker::bundleVersion(Paths::applicationBundle());
    if (found != version) {
        if (found.empty()) throw UpdaterError::step("установщик отработал, но приложения в «Программах» нет");
        throw UpdaterError::step("установилась версия " + found + ", а ожидалась " + version);
    }
    log.write("обновление: приложение заменено, версия " + found);

    LaunchdService::refreshBinaries(Paths::applicationBundle() + "/Contents/MacOS/ORVEX");
    log.write("обновление: копия службы обновлена");
}

void restartServiceSoon(Log& log) {
    std::thread([&log] {
        std::this_thread::sleep_for(restartDelay);
        log.write("обновление: перезапускаю службу на новом коде");
        LaunchdService::restartService();
    }).detach();
}

} // namespace orvex::Updater

#include "Log.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <future>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "FileDescriptor.h"
#include "Io.h"
#include "Paths.h"
#include "ScopeGuard.h"
#include "Text.h"

namespace fs = std::filesystem;

namespace orvex {
namespace {

constexpr const char* flagFileName = "logging.on";

std::string flagPath(const std::string& dir) { return dir + "/" + flagFileName; }

// "yyyy-MM-dd HH:mm:ss.SSS" in the process's local time zone.
std::string timestamp(std::chrono::system_clock::time_point when) {
    auto sinceEpoch = when.time_since_epoch();
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch);
    auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch - seconds).count();
    if (millis < 0) {
        seconds -= std::chrono::seconds(1);
        millis += 1000;
    }
    std::time_t time = static_cast<std::time_t>(seconds.count());
    std::tm local{};
    localtime_r(&time, &local);
    char text[40];
    size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + length, sizeof text - length, ".%03d", static_cast<int>(millis));
    return text;
}

bool isContinuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// How many bytes at the start of `window` are the rest of a character that began in `before`
// (what precedes the window in the file); 0 when the window starts on a character boundary or
// the bytes there do not form a valid character anyway.
size_t cutCharacterLength(std::string_view before, std::string_view window) {
    before = before.substr(before.size() - std::min<size_t>(before.size(), 3));
    size_t rest = 0;
    while (rest < 3 && rest < window.size() && isContinuation(window[rest])) ++rest;
    if (rest == 0) return 0;
    size_t lead = before.size();
    while (lead > 0 && isContinuation(before[lead - 1])) --lead;
    if (lead == 0) return 0;
    std::string character(before.substr(lead - 1));
    character.append(window.substr(0, rest));
    return Text::isValidUTF8(character) ? rest : 0;
}

} // namespace

Log::Log(std::string dir, std::string name)
    : dir_(std::move(dir)), name_(std::move(name)), enabled_(loadEnabled(dir_)) {
    Paths::ensureDir(dir_);
    writer_ = std::thread([this] { serve(); });
}

Log::~Log() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    wake_.notify_one();
    writer_.join();
}

bool Log::loadEnabled(const std::string& dir) {
    std::error_code ignored;
    return fs::exists(flagPath(dir), ignored);
}

std::string Log::filePath() const { return dir_ + "/" + name_ + ".log"; }

bool Log::isEnabled() {
    bool result = false;
    runSynchronously([&] { result = enabled_; });
    return result;
}

void Log::setEnabled(bool enabled) {
    runSynchronously([&] {
        enabled_ = enabled;
        Paths::ensureDir(dir_);
        std::string flag = flagPath(dir_);
        if (enabled) {
            FileDescriptor file(::open(flag.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        } else {
            ::unlink(flag.c_str());
        }
    });
}

void Log::write(std::string message) {
    auto when = std::chrono::system_clock::now();
    post([this, when, message = std::move(message)] {
        if (!enabled_) return;
        // The file must stay UTF-8 throughout, or every tail() covering this line would
        // come back empty.
        if (!Text::isValidUTF8(message)) return;
        Paths::ensureDir(dir_);
        append(timestamp(when) + " [" + name_ + "] " + message + "\n");
    });
}

void Log::flush() {
    runSynchronously([] {});
}

std::string Log::tail(size_t maxBytes) const {
    FileDescriptor file(::open(filePath().c_str(), O_RDONLY | O_CLOEXEC));
    if (!file) return {};
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) return {};
    auto size = static_cast<size_t>(info.st_size);
    // Up to three bytes before the window tell whether the cut splits a character.
    size_t start = size > maxBytes ? size - maxBytes : 0;
    size_t lookBack = std::min<size_t>(start, 3);
    if (::lseek(file.get(), static_cast<off_t>(start - lookBack), SEEK_SET) < 0) return {};
    std::string bytes = Io::readToEnd(file.get());
    // The file may have grown since fstat; the window is still its last maxBytes.
    size_t windowStart = std::min(lookBack, bytes.size());
    if (bytes.size() - windowStart > maxBytes) windowStart = bytes.size() - maxBytes;
    std::string_view before = std::string_view(bytes).substr(0, windowStart);
    std::string_view window = std::string_view(bytes).substr(windowStart);
    window.remove_prefix(cutCharacterLength(before, window));
    return Text::utf8OrEmpty(std::string(window));
}

void Log::append(const std::string& line) {
    // O_APPEND makes each line one atomic append, also against other instances and processes.
    FileDescriptor file(::open(filePath().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
    if (file) Io::writeAll(file.get(), line);
}

void Log::post(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
}

void Log::runSynchronously(const std::function<void()>& task) {
    std::promise<void> done;
    std::future<void> finished = done.get_future();
    post([&] {
        ScopeGuard release([&] { done.set_value(); });
        task();
    });
    finished.wait();
}

void Log::serve() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return closing_ || !tasks_.empty(); });
        if (tasks_.empty()) return;
        std::function<void()> task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        try {
            task();
        } catch (...) {
            // Logging never fails its callers, and one bad line must not end the writer.
        }
        lock.lock();
    }
}

} // namespace orvex

#include "WidgetFiles.h"

#include <QUuid>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <pwd.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace orvex::widget::WidgetFiles {

namespace {

constexpr size_t maxStatusBytes = 64 * 1024;

std::string home() {
    const char* value = std::getenv("HOME");
    if (value != nullptr && value[0] != '\0') return value;
    if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr)
        return entry->pw_dir;
    return "/";
}

std::string xdgFolder(const char* variable, const std::string& fallback) {
    const char* value = std::getenv(variable);
    return value != nullptr && value[0] == '/' ? value : home() + fallback;
}

// Closes the descriptor on every way out of a function.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    // Closes now and tells whether the last writes reached the file.
    bool close() {
        int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

} // namespace

std::string sharedDir() {
    const char* chosen = std::getenv("ORVEX_PLATFORM");
    std::string_view platform = chosen != nullptr ? chosen : "";
    if (platform != "macos" && platform != "linux") platform = ORVEX_BUILD_PLATFORM;
    if (platform == "linux") return xdgFolder("XDG_STATE_HOME", "/.local/state") + "/orvex/widget";

    const std::string folder = "/Users/Shared/ORVEX";
    const char* root = std::getenv("ORVEX_ROOT");
    if (root == nullptr || root[0] != '/') return folder;
    std::string base(root);
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return base == "/" ? folder : base + folder;
}

std::vector<std::string> candidates() {
    return {sharedDir() + "/widget-status.json",
            xdgFolder("XDG_DATA_HOME", "/.local/share") + "/orvex-widget/widget-status.json"};
}

std::optional<std::string> commandURL() {
    std::error_code error;
    if (!std::filesystem::is_directory(sharedDir(), error)) return std::nullopt;
    return sharedDir() + "/widget-command.json";
}

Snapshot load() {
    for (const std::string& path : candidates())
        if (auto bytes = readStatus(path))
            if (auto snapshot = Snapshot::decode(*bytes)) return *snapshot;
    return Snapshot::unknown();
}

std::optional<std::string> readStatus(const std::string& path) {
    Descriptor file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0) return std::nullopt;
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_size > static_cast<off_t>(maxStatusBytes))
        return std::nullopt;
    // One byte more than allowed tells a file that grew after fstat from one that fits.
    std::string bytes(maxStatusBytes + 1, '\0');
    size_t length = 0;
    while (length < bytes.size()) {
        ssize_t count = ::read(file.get(), bytes.data() + length, bytes.size() - length);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return std::nullopt;
        if (count == 0) break;
        length += static_cast<size_t>(count);
    }
    if (length > maxStatusBytes) return std::nullopt;
    bytes.resize(length);
    return bytes;
}

bool writeAtomically(const std::string& path, std::string_view bytes) {
    std::string folder = std::filesystem::path(path).parent_path().string();
    std::string temporary =
        folder + "/.widget-" + QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString() + ".tmp";
    // O_EXCL and O_NOFOLLOW: whatever someone planted under this name is never written through.
    Descriptor file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (file.get() < 0) return false;
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t count = ::write(file.get(), bytes.data() + done, bytes.size() - done);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        done += static_cast<size_t>(count);
    }
    bool written = done == bytes.size() && file.close() && ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!written) ::unlink(temporary.c_str());
    return written;
}

std::string settingsPath() { return xdgFolder("XDG_CONFIG_HOME", "/.config") + "/orvex/widget.ini"; }

} // namespace orvex::widget::WidgetFiles

#include "SupportFiles.h"

#include <QDir>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include "APIClient.h"
#include "FileDescriptor.h"
#include "Io.h"

namespace orvex::SupportFiles {
namespace {

constexpr int lastCopy = 99;

FileDescriptor openFile(const std::string& path, int flags, mode_t mode = 0) {
    int fd = -1;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return FileDescriptor(fd);
}

[[noreturn]] void fail(const std::string& path, int error = errno) {
    throw std::system_error(error, std::generic_category(), path);
}

// `text` cut to at most `limit` bytes without splitting a UTF-8 character.
std::string_view cut(std::string_view text, size_t limit) {
    if (text.size() <= limit) return text;
    size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

} // namespace

std::string downloadsFolder() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (folder.isEmpty()) folder = QDir::tempPath();
    return folder.toStdString();
}

std::string fileName(const std::optional<std::string>& serverName, std::int64_t id) {
    std::string text = serverName.value_or("");
    std::string name;
    for (size_t i = 0; i < text.size(); ++i) {
        auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20 || byte == 0x7F) continue;
        // U+0080 to U+009F, the second block of control characters, are C2 80 to C2 9F.
        if (byte == 0xC2 && i + 1 < text.size()) {
            auto next = static_cast<unsigned char>(text[i + 1]);
            if (next >= 0x80 && next <= 0x9F) {
                ++i;
                continue;
            }
        }
        name += byte == '/' || byte == ':' ? '_' : text[i];
    }
    if (name.empty() || name == "." || name == "..") return "file-" + std::to_string(id);
    return name;
}

std::string numbered(const std::string& name, int copy) {
    std::string_view stem = name;
    std::string_view extension;
    size_t dot = name.rfind('.');
    // A leading dot marks a hidden file rather than an extension, and an extension longer
    // than half a name would leave the stem no room.
    if (dot != std::string::npos && dot > 0 && dot + 1 < name.size() &&
        name.size() - dot <= maxNameBytes / 2) {
        stem = std::string_view(name).substr(0, dot);
        extension = std::string_view(name).substr(dot);
    }
    std::string tail = (copy > 1 ? " " + std::to_string(copy) : std::string()) + std::string(extension);
    return std::string(cut(stem, maxNameBytes - tail.size())) + tail;
}

std::string freePath(const std::string& path) {
    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    for (int copy = 1; copy <= lastCopy; ++copy) {
        std::string candidate = folder + numbered(name, copy);
        struct stat info {};
        if (::lstat(candidate.c_str(), &info) != 0 && errno == ENOENT) return candidate;
    }
    return folder + numbered(name, 1);
}

std::string saveNew(const std::string& path, std::string_view data) {
    std::string previous;
    for (;;) {
        std::string target = freePath(path);
        FileDescriptor file = openFile(target, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
        if (!file) {
            // Taken between the look and the creation: look again, until the same name comes back.
            if (errno == EEXIST && target != previous) {
                previous = target;
                continue;
            }
            fail(target);
        }
        if (!Io::writeAll(file.get(), data)) {
            int error = errno;
            ::unlink(target.c_str());
            fail(target, error);
        }
        return target;
    }
}

std::string readAttachment(const std::string& path) {
    FileDescriptor file = openFile(path, O_RDONLY);
    if (!file) fail(path);
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) fail(path);
    APIClient::checkAttachmentSize(static_cast<std::uint64_t>(info.st_size));
    // A file growing meanwhile is read one byte past the limit, which the upload refuses.
    const size_t limit = static_cast<size_t>(APIClient::maxAttachmentBytes) + 1;
    std::string data;
    char buffer[65536];
    while (data.size() < limit) {
        ssize_t got = Io::read(file.get(), buffer, std::min(sizeof buffer, limit - data.size()));
        if (got < 0) fail(path);
        if (got == 0) break;
        data.append(buffer, static_cast<size_t>(got));
    }
    return data;
}

} // namespace orvex::SupportFiles

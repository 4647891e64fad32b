#include "Io.h"

#include <cerrno>
#include <unistd.h>

namespace orvex::Io {

ssize_t read(int fd, void* buffer, size_t size) {
    ssize_t count;
    do {
        count = ::read(fd, buffer, size);
    } while (count < 0 && errno == EINTR);
    return count;
}

std::string readToEnd(int fd) {
    std::string bytes;
    char chunk[16384];
    for (;;) {
        ssize_t count = read(fd, chunk, sizeof chunk);
        if (count <= 0) break;
        bytes.append(chunk, static_cast<size_t>(count));
    }
    return bytes;
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t count = ::write(fd, bytes.data(), bytes.size());
        if (count < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(count));
    }
    return true;
}

} // namespace orvex::Io

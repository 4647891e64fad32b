#pragma once

#include <utility>

namespace orvex {

// Owns one POSIX descriptor and closes it exactly once. Move-only.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    // Closes the held descriptor (close is not retried on EINTR: on Linux and macOS the
    // descriptor is gone either way) and takes `fd`.
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

} // namespace orvex

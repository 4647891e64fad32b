#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <sys/types.h>

// Descriptor reads and writes that survive signals: every call is retried on EINTR, so a
// signal arriving in the service never turns into a short log line or a lost command output.
namespace orvex::Io {

// One read(2), retried on EINTR: the byte count, 0 at end of file, -1 with errno on failure.
ssize_t read(int fd, void* buffer, size_t size);

// Reads until end of file or the first error; what arrived before an error is kept.
std::string readToEnd(int fd);

// Writes all of `bytes`, continuing after short writes; false on the first failure.
bool writeAll(int fd, std::string_view bytes);

} // namespace orvex::Io

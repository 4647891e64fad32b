#include "Pipe.h"

#include <cerrno>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace orvex {

// macOS has no pipe2. The moment between pipe() and fcntl() is harmless because every child is
// started with POSIX_SPAWN_CLOEXEC_DEFAULT there (see SpawnPlatform_mac.cpp).
Pipe Pipe::create() {
    int ends[2];
    if (::pipe(ends) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
    Pipe pipe{FileDescriptor(ends[0]), FileDescriptor(ends[1])};
    for (int fd : ends)
        if (::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0)
            throw std::system_error(errno, std::generic_category(), "fcntl");
    return pipe;
}

} // namespace orvex

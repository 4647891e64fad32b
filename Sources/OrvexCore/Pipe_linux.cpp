#include "Pipe.h"

#include <cerrno>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace orvex {

Pipe Pipe::create() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe2");
    return Pipe{FileDescriptor(ends[0]), FileDescriptor(ends[1])};
}

} // namespace orvex

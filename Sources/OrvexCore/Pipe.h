#pragma once

#include "FileDescriptor.h"

namespace orvex {

// One pipe whose both ends are close-on-exec from the start, so no child started by another
// thread in the meantime inherits them; a child gets an end only by an explicit redirection.
struct Pipe {
    FileDescriptor readEnd;
    FileDescriptor writeEnd;

    // Throws std::system_error when the system refuses (for example, out of descriptors).
    static Pipe create();
};

} // namespace orvex

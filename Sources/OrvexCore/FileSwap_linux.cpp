#include "FileSwap.h"

#include <cerrno>
#include <fcntl.h>
#include <stdio.h>
#include <system_error>

namespace orvex::FileSwap {

void exchange(const std::string& a, const std::string& b) {
    if (::renameat2(AT_FDCWD, b.c_str(), AT_FDCWD, a.c_str(), RENAME_EXCHANGE) != 0)
        throw std::system_error(errno, std::generic_category(), a);
}

} // namespace orvex::FileSwap

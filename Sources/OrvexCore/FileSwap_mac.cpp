#include "FileSwap.h"

#include <cerrno>
#include <stdio.h>
#include <system_error>

namespace orvex::FileSwap {

void exchange(const std::string& a, const std::string& b) {
    if (::renamex_np(b.c_str(), a.c_str(), RENAME_SWAP) != 0)
        throw std::system_error(errno, std::generic_category(), a);
}

} // namespace orvex::FileSwap

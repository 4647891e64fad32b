#include "ProgramPath.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <mach-o/dyld.h>
#include <vector>

namespace orvex::ProgramPath {

std::string current() {
    uint32_t size = 0;
    _NSGetExecutablePath(nullptr, &size);
    std::vector<char> buffer(size + 1);
    char resolved[PATH_MAX];
    if (_NSGetExecutablePath(buffer.data(), &size) != 0 || realpath(buffer.data(), resolved) == nullptr) {
        std::fprintf(stderr, "orvex: не удалось определить путь программы\n");
        std::abort();
    }
    return resolved;
}

} // namespace orvex::ProgramPath

#include "ProgramPath.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace orvex::ProgramPath {

std::string current() {
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        std::fprintf(stderr, "orvex: не удалось определить путь программы: %s\n", error.message().c_str());
        std::abort();
    }
    auto resolved = std::filesystem::weakly_canonical(path, error);
    return (error ? path : resolved).string();
}

} // namespace orvex::ProgramPath

// Version texts come from the manifest and the service socket, and the attach table from the
// image tool: comparison must stay a strict order and the mount point a clean /Volumes path.
#include "UpdateChecker.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    size_t split = text.find('\n');
    std::string_view a = text.substr(0, split);
    std::string_view b = split == std::string_view::npos ? std::string_view() : text.substr(split + 1);
    for (std::int64_t number : orvex::UpdateChecker::parts(a))
        if (number < 0) std::abort();
    if (orvex::UpdateChecker::isNewer(a, a)) std::abort();
    if (orvex::UpdateChecker::isNewer(a, b) && orvex::UpdateChecker::isNewer(b, a)) std::abort();

    std::string point = orvex::UpdateChecker::mountPoint(text);
    if (!point.empty() && (!point.starts_with("/Volumes/") || point.find('\n') != std::string::npos ||
                           point.ends_with(' ') || point.ends_with('\t')))
        std::abort();
    orvex::UpdateChecker::isPermissionDenied(text);
    return 0;
}

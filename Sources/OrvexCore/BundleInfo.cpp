#include "BundleInfo.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <plist/plist.h>

namespace orvex::BundleInfo {

std::optional<std::string> string(const std::string& plistPath, const std::string& key) {
    std::ifstream file(plistPath, std::ios::binary);
    if (!file) return std::nullopt;
    std::string data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (data.empty() || data.size() > UINT32_MAX) return std::nullopt;
    plist_t root = nullptr;
    plist_from_memory(data.data(), static_cast<uint32_t>(data.size()), &root);
    if (root == nullptr) return std::nullopt;
    std::unique_ptr<void, void (*)(plist_t)> owner(root, plist_free);
    if (plist_get_node_type(root) != PLIST_DICT) return std::nullopt;
    plist_t node = plist_dict_get_item(root, key.c_str());
    if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) return std::nullopt;
    char* value = nullptr;
    plist_get_string_val(node, &value);
    if (value == nullptr) return std::nullopt;
    std::string result(value);
    std::free(value); // libplist 2.2 hands out malloc memory
    return result;
}

std::optional<std::string> infoPlistFor(const std::string& programPath) {
    std::filesystem::path folder = std::filesystem::path(programPath).parent_path();
    if (folder.filename() != "MacOS" || folder.parent_path().filename() != "Contents") return std::nullopt;
    return (folder.parent_path() / "Info.plist").string();
}

} // namespace orvex::BundleInfo

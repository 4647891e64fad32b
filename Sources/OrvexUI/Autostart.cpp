#include "Autostart.h"

#include <filesystem>
#include <memory>
#include <plist/plist.h>
#include <system_error>

#include "AtomicFile.h"
#include "Paths.h"
#include "Shell.h"

namespace orvex::Autostart {

namespace fs = std::filesystem;

namespace {

constexpr const char* label = "net.orvex.app";
constexpr double launchctlLimit = 15;

std::string agentsDir() { return Paths::home() + "/Library/LaunchAgents"; }

void launchctl(const std::string& verb) {
    Shell::run(Paths::relocate("/bin/launchctl"), {verb, "-w", plistPath()}, launchctlLimit);
}

std::optional<std::string> enable() {
    std::string bundle = Paths::ownBundle();
    if (bundle.empty()) return "Автозапуск доступен только для установленного приложения";
    Paths::ensureDir(agentsDir());
    if (!AtomicFile::write(plistPath(), agentPlist(bundle)))
        return "Не удалось включить автозапуск: " + std::generic_category().message(errno);
    launchctl("load");
    return std::nullopt;
}

std::optional<std::string> disable() {
    launchctl("unload");
    std::error_code error;
    fs::remove(plistPath(), error);
    if (error) return "Не удалось выключить автозапуск: " + error.message();
    return std::nullopt;
}

} // namespace

std::string plistPath() { return agentsDir() + "/" + label + ".plist"; }

bool isEnabled() {
    std::error_code ignored;
    return fs::exists(plistPath(), ignored);
}

std::optional<std::string> setEnabled(bool on) { return on ? enable() : disable(); }

std::string agentPlist(const std::string& bundlePath) {
    std::unique_ptr<void, void (*)(plist_t)> root(plist_new_dict(), plist_free);
    plist_dict_set_item(root.get(), "Label", plist_new_string(label));
    plist_t arguments = plist_new_array();
    for (const char* argument : {"/usr/bin/open", "-a", bundlePath.c_str()})
        plist_array_append_item(arguments, plist_new_string(argument));
    plist_dict_set_item(root.get(), "ProgramArguments", arguments);
    plist_dict_set_item(root.get(), "RunAtLoad", plist_new_bool(1));
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root.get(), &xml, &length);
    std::string text(xml, length);
    plist_to_xml_free(xml);
    return text;
}

} // namespace orvex::Autostart

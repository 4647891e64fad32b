#include "Autostart.h"

#include <memory>
#include <plist/plist.h>

#include "Platform.h"

namespace orvex::Autostart {

namespace {

bool launchAgents() { return Platform::current().desktop == Platform::Desktop::aqua; }

} // namespace

bool isEnabled() { return launchAgents() ? LaunchAgent::isEnabled() : Xdg::isEnabled(); }

std::optional<std::string> setEnabled(bool on) {
    return launchAgents() ? LaunchAgent::setEnabled(on) : Xdg::setEnabled(on);
}

std::string entryPath() { return launchAgents() ? LaunchAgent::entryPath() : Xdg::entryPath(); }

std::string agentPlist(const std::string& bundlePath) {
    std::unique_ptr<void, void (*)(plist_t)> root(plist_new_dict(), plist_free);
    plist_dict_set_item(root.get(), "Label", plist_new_string("net.orvex.app"));
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

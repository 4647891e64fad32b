#pragma once

#include <string>

#include "IPCProtocol.h"

// The words of the tray icon: the state label of its menu and tool tip, and its action item.
namespace orvex::TrayText {

std::string label(const TunnelStatus& status, bool mandatoryUpdatePending);
std::string toolTip(const TunnelStatus& status, bool mandatoryUpdatePending);

struct ActionItem {
    std::string title;
    bool opensWindow; // the update item opens the window instead of toggling
};
ActionItem action(TunnelState state, bool mandatoryUpdatePending);

} // namespace orvex::TrayText

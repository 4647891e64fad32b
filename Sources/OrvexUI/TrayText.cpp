#include "TrayText.h"

#include "Texts.h"
#include "Unicode.h"

namespace orvex::TrayText {

std::string label(const TunnelStatus& status, bool mandatoryUpdatePending) {
    switch (status.state) {
    case TunnelState::disconnected:
        return mandatoryUpdatePending ? Unicode::lowerLatinAndCyrillic(Texts::mandatoryUpdateShort)
                                      : "не подключено";
    case TunnelState::connecting:
        return "подключение…";
    case TunnelState::connected:
        return status.serverName.empty() ? "подключено" : "подключено, " + status.serverName;
    case TunnelState::error:
        return "ошибка";
    }
    return "не подключено";
}

std::string toolTip(const TunnelStatus& status, bool mandatoryUpdatePending) {
    return "ORVEX — " + label(status, mandatoryUpdatePending);
}

ActionItem action(TunnelState state, bool mandatoryUpdatePending) {
    bool up = state == TunnelState::connecting || state == TunnelState::connected;
    if (up) return {"Отключить", false};
    if (mandatoryUpdatePending) return {std::string(Texts::mandatoryUpdateShort) + " — обновить", true};
    return {"Подключить", false};
}

} // namespace orvex::TrayText

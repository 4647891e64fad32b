#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "APITypes.h"
#include "IPCProtocol.h"

// The words the screens derive from the model's state.
namespace orvex::ScreenTexts {

// The home panel's line about the tunnel; a kill-switch hold outranks the state.
std::string statusLine(const TunnelStatus& status);

// The connect button's caption and the line under it.
std::string connectCaption(TunnelState state);
std::string connectSubtitle(TunnelState state);

// "1 день", "2 дня", "5 дней", "21 день", "11 дней".
std::string days(std::int64_t count);

// The subscription card's traffic line: "12.5 из 200 ГБ", or "12.5 ГБ" without a limit.
std::string traffic(double usedGb, std::optional<double> limitGb);

// A ping: nothing for no value, "—" when it failed, else "<ms> мс".
std::string ping(std::optional<int> milliseconds);

} // namespace orvex::ScreenTexts

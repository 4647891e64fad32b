#pragma once

#include <QColor>

#include <chrono>
#include <optional>
#include <string>

#include "Snapshot.h"

// How a snapshot looks at a given moment. Pure functions of the snapshot and `now`, evaluated
// whenever the widget draws, because a pending toggle and an update request expire with the
// file's age even when the file itself does not change.
namespace orvex::widget::WidgetRules {

// A mandatory update blocks connecting, the application has not said it quit, and the file is
// younger than 5 minutes (an older one was left by an application that is presumably gone).
bool updateRequired(const Snapshot& snapshot, TimePoint now);
// A toggle was asked for less than 20 s ago and has not shown in the state yet.
bool pendingActive(const Snapshot& snapshot, TimePoint now);

std::string title(const Snapshot& snapshot, TimePoint now);
// Empty when there is no subtitle line.
std::string subtitle(const Snapshot& snapshot, TimePoint now);
std::string buttonTitle(const Snapshot& snapshot, TimePoint now);
QColor dotColour(const Snapshot& snapshot, TimePoint now);
// Where a press on the widget's body leads.
std::string tapURL(const Snapshot& snapshot, TimePoint now);

// When to read the file again if nothing happens: soon while a toggle is pending, so that
// its mark clears on time even if the application writes nothing.
std::chrono::seconds refreshAfter(const Snapshot& snapshot);

} // namespace orvex::widget::WidgetRules

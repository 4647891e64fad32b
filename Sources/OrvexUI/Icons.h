#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

#include "IPCProtocol.h"

// The program's monochrome symbols, drawn as SVG and kept in its resources.
namespace orvex::Icons {

// The symbol `name` (":/icons/<name>.svg") in `color`; on macOS a template mask the system tints.
QIcon named(const QString& name, const QColor& color = Qt::black);

// The symbol `name` drawn at exactly `side` × `side` logical pixels for a screen of
// `devicePixelRatio`, for symbols larger than the icon sizes `named` prepares.
QPixmap pixmap(const QString& name, const QColor& color, int side, qreal devicePixelRatio);

// The tray symbol of a tunnel state: lock-open, lock-shield, lock-shield-fill, shield-warning.
QString trayName(TunnelState state);

} // namespace orvex::Icons

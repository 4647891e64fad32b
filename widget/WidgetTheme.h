#pragma once

#include <QColor>

// The widget's colours, sRGB and opaque unless said otherwise. They match the application's
// palette so that the widget reads as part of ORVEX on any desktop.
namespace orvex::widget::WidgetTheme {

inline QColor bg() { return QColor::fromRgbF(0.067f, 0.059f, 0.098f); }
inline QColor accent() { return QColor::fromRgbF(0.486f, 0.302f, 1.0f); }
inline QColor ok() { return QColor::fromRgbF(0.133f, 0.773f, 0.369f); }
inline QColor warn() { return QColor::fromRgbF(0.918f, 0.702f, 0.031f); }
inline QColor error() { return QColor::fromRgbF(0.937f, 0.267f, 0.267f); }
inline QColor onLow() { return QColor::fromRgbF(0.384f, 0.361f, 0.451f); }

// Text on `bg`: the desktop's primary and secondary label styles on a dark surface.
inline QColor label() { return QColor(255, 255, 255); }
inline QColor secondaryLabel() { return QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.55f); }
// A hairline around the widget, so that its edge shows on a dark wallpaper too.
inline QColor edge() { return QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.08f); }

} // namespace orvex::widget::WidgetTheme

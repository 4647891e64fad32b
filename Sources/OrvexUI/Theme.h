#pragma once

#include <QColor>
#include <QString>

#include <cstdint>

// The application's look: one dark palette, two corner radii, and the one style sheet that
// carries them to every widget. Widgets opt into a look with the dynamic property "role"
// (and "tone" for plates) instead of styling themselves.
namespace orvex::Theme {

// A colour from a 24-bit value, red, green and blue bytes from high to low.
QColor rgb(std::uint32_t value, double opacity = 1.0);

inline const QColor bg = rgb(0x110F19);
inline const QColor surface = rgb(0x1A1724);
inline const QColor surface2 = rgb(0x221E2E);
inline const QColor outline = rgb(0x2C2739);
inline const QColor divider = rgb(0x1E1A29);
inline const QColor accent = rgb(0x7C4DFF);
inline const QColor accent2 = rgb(0x9D7BFF);
inline const QColor accentDim = rgb(0x7C4DFF, 0.14);
inline const QColor warn = rgb(0xEAB308);
inline const QColor warnDim = rgb(0xEAB308, 0.1);
inline const QColor error = rgb(0xEF4444);
inline const QColor errorDim = rgb(0xEF4444, 0.12);
inline const QColor errorFg = rgb(0xF87171);
inline const QColor ok = rgb(0x22C55E);
inline const QColor okDim = rgb(0x22C55E, 0.12);
inline const QColor connectTop = rgb(0x1B1730);
inline const QColor on = rgb(0xEFEDF5);
inline const QColor onMed = rgb(0xA29DB0);
inline const QColor onLow = rgb(0x625C73);

inline constexpr int cardRadius = 20;
inline constexpr int fieldRadius = 12;

// The style sheet of the whole application.
QString styleSheet();

} // namespace orvex::Theme

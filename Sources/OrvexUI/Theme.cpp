#include "Theme.h"

namespace orvex::Theme {

QColor rgb(std::uint32_t value, double opacity) {
    QColor colour((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF);
    colour.setAlphaF(static_cast<float>(opacity));
    return colour;
}

namespace {

QString css(const QColor& colour) {
    if (colour.alpha() == 255) return colour.name();
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(colour.red())
        .arg(colour.green())
        .arg(colour.blue())
        .arg(colour.alphaF(), 0, 'f', 2);
}

} // namespace

QString styleSheet() {
    QString sheet = QStringLiteral(R"(
QMainWindow, QWidget#root, QWidget[role="page"], QScrollArea, QScrollArea > QWidget > QWidget[role="page"] {
    background: @bg; }
QWidget { color: @on; font-size: 13px; }
QMenuBar { background: @surface; color: @onMed; }
QMenuBar::item:selected { background: @surface2; color: @on; }
QMenu { background: @surface; color: @on; border: 1px solid @outline; }
QMenu::item:selected { background: @accentDim; }
QToolTip { background: @surface2; color: @on; border: 1px solid @outline; }
QScrollArea { border: none; }
QScrollBar:vertical { background: transparent; width: 8px; margin: 4px 2px; }
QScrollBar::handle:vertical { background: @outline; border-radius: 2px; min-height: 32px; }
QScrollBar::add-line, QScrollBar::sub-line { height: 0; }
QScrollBar::add-page, QScrollBar::sub-page { background: transparent; }

QFrame[role="card"] { background: @surface; border: 1px solid @outline; border-radius: @cardRadiuspx; }
QFrame[role="sidebar"] { background: @surface; border-right: 1px solid @divider; }
QFrame[role="divider"] { background: @divider; max-height: 1px; min-height: 1px; border: none; }
QLabel { background: transparent; }
QLabel[role="panelTitle"] { font-size: 22px; font-weight: 600; }
QLabel[role="screenTitle"] { font-size: 26px; font-weight: 700; }
QLabel[role="section"] { font-size: 11px; font-weight: 600; color: @onLow; }
QLabel[role="cardTitle"] { font-size: 15px; font-weight: 600; }
QLabel[role="secondary"] { color: @onMed; }
QLabel[role="tertiary"] { color: @onLow; font-size: 12px; }
QLabel[role="big"] { font-size: 24px; font-weight: 700; }
QLabel[role="status"] { font-size: 20px; font-weight: 600; }
QLabel[role="plate"] { border-radius: @fieldRadiuspx; padding: 10px 14px; }
QLabel[role="plate"][tone="error"] { background: @errorDim; color: @errorFg; }
QLabel[role="plate"][tone="warn"] { background: @warnDim; color: @warn; }
QLabel[role="plate"][tone="ok"] { background: @okDim; color: @ok; }
QLabel[role="plate"][tone="info"] { background: @accentDim; color: @accent2; }
QLabel[role="chip"] { border-radius: 9px; padding: 2px 8px; font-size: 11px; font-weight: 600; }

QLineEdit, QPlainTextEdit {
    background: @surface2; border: 1px solid @outline; border-radius: @fieldRadiuspx;
    padding: 9px 12px; color: @on; selection-background-color: @accent; }
QLineEdit:focus, QPlainTextEdit:focus { border-color: @accent; }
QLineEdit[mono="true"] { font-family: "DejaVu Sans Mono", monospace; font-size: 14px; }

QPushButton { border-radius: @fieldRadiuspx; padding: 9px 18px; font-weight: 600; }
QPushButton[role="primary"] { background: @accent; color: #FFFFFF; border: none; }
QPushButton[role="primary"]:hover { background: @accent2; }
QPushButton[role="primary"]:disabled { background: @accentDim; color: @onLow; }
QPushButton[role="secondary"] { background: @surface2; color: @on; border: 1px solid @outline; }
QPushButton[role="secondary"]:hover { border-color: @accent; }
QPushButton[role="secondary"]:disabled { color: @onLow; }
QPushButton[role="danger"] { background: @errorDim; color: @errorFg; border: none; }
QPushButton[role="link"] { background: transparent; color: @accent2; border: none; padding: 4px 2px; font-weight: 500; }
QPushButton[role="link"]:hover { color: @on; }
QPushButton:focus { outline: none; border: 1px solid @accent2; }
QPushButton[role="nav"] {
    background: transparent; color: @onMed; border: none; border-radius: 10px;
    padding: 8px 12px; text-align: left; font-weight: 500; }
QPushButton[role="nav"]:hover { color: @on; }
QPushButton[role="nav"]:checked { background: @accentDim; color: @on; font-weight: 600; }
QPushButton[role="row"] {
    background: transparent; border: none; border-radius: 12px; padding: 10px 12px;
    text-align: left; font-weight: 500; }
QPushButton[role="row"]:hover { background: @surface2; }
QPushButton[role="row"]:disabled { color: @onMed; }
QProgressBar { background: @surface2; border: none; border-radius: 4px; max-height: 8px; }
QProgressBar::chunk { background: @accent; border-radius: 4px; }
QDialog { background: @surface; }
)");
    const std::pair<const char*, QString> values[] = {{"@bg", css(bg)},
                                                      {"@surface2", css(surface2)},
                                                      {"@surface", css(surface)},
                                                      {"@outline", css(outline)},
                                                      {"@divider", css(divider)},
                                                      {"@accentDim", css(accentDim)},
                                                      {"@accent2", css(accent2)},
                                                      {"@accent", css(accent)},
                                                      {"@warnDim", css(warnDim)},
                                                      {"@warn", css(warn)},
                                                      {"@errorDim", css(errorDim)},
                                                      {"@errorFg", css(errorFg)},
                                                      {"@okDim", css(okDim)},
                                                      {"@ok", css(ok)},
                                                      {"@onMed", css(onMed)},
                                                      {"@onLow", css(onLow)},
                                                      {"@on", css(on)},
                                                      {"@cardRadius", QString::number(cardRadius)},
                                                      {"@fieldRadius", QString::number(fieldRadius)}};
    // Longer names first, so that "@surface2" is not taken for "@surface" followed by "2".
    for (const auto& [name, value] : values) sheet.replace(QLatin1String(name), value);
    return sheet;
}

} // namespace orvex::Theme

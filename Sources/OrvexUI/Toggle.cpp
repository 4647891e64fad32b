#include "Toggle.h"

#include <QPainter>

#include "Theme.h"

namespace orvex {

Toggle::Toggle(const QString& accessibleName, QWidget* parent) : QAbstractButton(parent) {
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(accessibleName);
    setFixedSize(sizeHint());
}

QSize Toggle::sizeHint() const { return {40, 24}; }

void Toggle::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
    QColor fill = isChecked() ? Theme::accent : Theme::surface2;
    if (!isEnabled()) fill.setAlphaF(0.5f);
    painter.setPen(QPen(isChecked() ? Theme::accent : Theme::outline, 1));
    if (hasFocus()) painter.setPen(QPen(Theme::accent2, 2));
    painter.setBrush(fill);
    painter.drawRoundedRect(track, track.height() / 2, track.height() / 2);
    double knob = track.height() - 6;
    double x = isChecked() ? track.right() - 3 - knob : track.left() + 3;
    painter.setPen(Qt::NoPen);
    painter.setBrush(isChecked() ? QColor(Qt::white) : Theme::onMed);
    painter.drawEllipse(QRectF(x, track.top() + 3, knob, knob));
}

} // namespace orvex

#include "ConnectDial.h"

#include <QPainter>
#include <QRadialGradient>

#include <algorithm>

#include "Icons.h"
#include "Theme.h"

namespace orvex {

ConnectDial::ConnectDial(QWidget* parent) : QWidget(parent) {
    setMinimumSize(sizeHint());
    setAccessibleName(QStringLiteral("Состояние подключения"));
}

void ConnectDial::setState(TunnelState state, bool held) {
    state_ = state;
    held_ = held;
    update();
}

void ConnectDial::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor tint = Theme::onLow;
    QString symbol = QStringLiteral("shield");
    if (held_ || state_ == TunnelState::error) {
        tint = Theme::error;
        symbol = QStringLiteral("shield-warning");
    } else if (state_ == TunnelState::connected) {
        tint = Theme::ok;
        symbol = QStringLiteral("lock-shield-fill");
    } else if (state_ == TunnelState::connecting) {
        tint = Theme::accent2;
        symbol = QStringLiteral("lock-shield");
    }

    double side = std::min(width(), height());
    QRectF dial((width() - side) / 2 + 8, (height() - side) / 2 + 8, side - 16, side - 16);
    QPointF centre = dial.center();

    QRadialGradient glow(centre, side / 2);
    QColor halo = tint;
    halo.setAlphaF(state_ == TunnelState::disconnected && !held_ ? 0.0f : 0.22f);
    glow.setColorAt(0.6, halo);
    glow.setColorAt(1.0, Qt::transparent);
    painter.setPen(Qt::NoPen);
    painter.setBrush(glow);
    painter.drawEllipse(centre, side / 2, side / 2);

    QLinearGradient face(dial.topLeft(), dial.bottomLeft());
    face.setColorAt(0, Theme::connectTop);
    face.setColorAt(1, Theme::surface);
    painter.setBrush(face);
    painter.setPen(QPen(tint, 3));
    painter.drawEllipse(dial);

    QPen inner(Theme::outline, 1);
    painter.setPen(inner);
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(dial.adjusted(12, 12, -12, -12));

    int iconSide = static_cast<int>(dial.width() * 0.36);
    QPixmap pixmap = Icons::pixmap(symbol, tint, iconSide, devicePixelRatioF());
    painter.drawPixmap(QPointF(centre.x() - iconSide / 2.0, centre.y() - iconSide / 2.0), pixmap);
}

} // namespace orvex

#include "Icons.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace orvex::Icons {

namespace {

QPixmap tinted(QSvgRenderer& renderer, const QColor& color, int pixels) {
    QPixmap pixmap(pixels, pixels);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), color);
    return pixmap;
}

QString resource(const QString& name) { return QStringLiteral(":/icons/%1.svg").arg(name); }

} // namespace

QPixmap pixmap(const QString& name, const QColor& color, int side, qreal devicePixelRatio) {
    QSvgRenderer renderer(resource(name));
    QPixmap result = tinted(renderer, color, static_cast<int>(side * devicePixelRatio));
    result.setDevicePixelRatio(devicePixelRatio);
    return result;
}

QIcon named(const QString& name, const QColor& color) {
    QSvgRenderer renderer(resource(name));
    QIcon icon;
    // Drawn at each size rather than scaled, so the strokes stay crisp in the tray and at 2×.
    for (int size : {16, 22, 24, 28, 32, 44, 48, 64}) icon.addPixmap(tinted(renderer, color, size));
    // Only macOS acts on this: the menu bar then tints the symbol like its own.
    icon.setIsMask(true);
    return icon;
}

QString trayName(TunnelState state) {
    switch (state) {
    case TunnelState::disconnected:
        return QStringLiteral("lock-open");
    case TunnelState::connecting:
        return QStringLiteral("lock-shield");
    case TunnelState::connected:
        return QStringLiteral("lock-shield-fill");
    case TunnelState::error:
        return QStringLiteral("shield-warning");
    }
    return QStringLiteral("lock-shield");
}

} // namespace orvex::Icons

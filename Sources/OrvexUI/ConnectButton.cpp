#include "ConnectButton.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "Icons.h"

namespace orvex {

ConnectButton::ConnectButton(QWidget* parent)
    : QPushButton(parent), caption_(new QLabel), subtitle_(new QLabel) {
    setObjectName("connectButton");
    setProperty("role", "primary");
    setCursor(Qt::PointingHandCursor);
    setMinimumSize(260, 60);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(18, 8, 22, 8);
    auto* icon = new QLabel;
    icon->setPixmap(Icons::named(QStringLiteral("power"), Qt::white).pixmap(22, 22));
    layout->addWidget(icon);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(0);
    caption_->setStyleSheet(QStringLiteral("color: white; font-size: 15px; font-weight: 600;"));
    subtitle_->setStyleSheet(QStringLiteral("color: rgba(255, 255, 255, 0.72); font-size: 11px;"));
    texts->addWidget(caption_);
    texts->addWidget(subtitle_);
    layout->addLayout(texts, 1);
    for (QLabel* label : {caption_, subtitle_}) label->setAttribute(Qt::WA_TransparentForMouseEvents);
    icon->setAttribute(Qt::WA_TransparentForMouseEvents);
}

void ConnectButton::setTexts(const QString& caption, const QString& subtitle) {
    caption_->setText(caption);
    subtitle_->setText(subtitle);
    setAccessibleName(caption);
}

QString ConnectButton::caption() const { return caption_->text(); }
QString ConnectButton::subtitle() const { return subtitle_->text(); }

} // namespace orvex

#include "CooldownNotice.h"

#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include <algorithm>

#include "Pieces.h"
#include "Texts.h"
#include "Theme.h"

namespace orvex {

CooldownNotice::CooldownNotice(QWidget* parent)
    : QFrame(parent), wait_(Pieces::label(QString())), bar_(new QProgressBar) {
    setObjectName("cooldownNotice");
    setStyleSheet(QStringLiteral("QFrame#cooldownNotice { background: %1; border-radius: %2px; }")
                      .arg(QStringLiteral("rgba(234, 179, 8, 0.10)"))
                      .arg(Theme::fieldRadius));
    wait_->setStyleSheet(QStringLiteral("color: %1; font-weight: 600;").arg(Theme::warn.name()));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 12, 14, 14);
    layout->setSpacing(8);
    layout->addWidget(wait_);
    layout->addWidget(Pieces::label(
        QString::fromUtf8(Texts::serverChangeHint.data(), Texts::serverChangeHint.size()), "secondary"));
    bar_->setTextVisible(false);
    bar_->setAccessibleName(QStringLiteral("Прошедшая часть паузы"));
    layout->addWidget(bar_);
    hide();
}

void CooldownNotice::setCooldown(std::int64_t left, std::int64_t total) {
    setVisible(left > 0);
    if (left <= 0) return;
    wait_->setText(QString::fromStdString(Texts::serverChangeWait(left)));
    std::int64_t span = std::max(total, left);
    bar_->setRange(0, static_cast<int>(span));
    bar_->setValue(static_cast<int>(span - left));
}

QString CooldownNotice::waitText() const { return wait_->text(); }

} // namespace orvex

#include "StatusPanel.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "AppModel.h"
#include "TrayText.h"

namespace orvex {

StatusPanel::StatusPanel(AppModel& model, QWidget* parent)
    : QWidget(parent), model_(model), state_(new QLabel(this)), server_(new QLabel(this)),
      lines_(new QLabel(this)), toggle_(new QPushButton(this)) {
    setObjectName("statusPanel");
    state_->setObjectName("stateLabel");
    server_->setObjectName("serverLabel");
    lines_->setObjectName("linesLabel");
    toggle_->setObjectName("connectButton");
    state_->setStyleSheet("font-size: 28px; font-weight: 600;");
    server_->setStyleSheet("font-size: 15px; color: palette(mid);");
    lines_->setWordWrap(true);
    toggle_->setMinimumSize(220, 44);
    toggle_->setDefault(true);

    auto* layout = new QVBoxLayout(this);
    layout->addStretch(2);
    for (QWidget* widget : {static_cast<QWidget*>(state_), static_cast<QWidget*>(server_)})
        layout->addWidget(widget, 0, Qt::AlignHCenter);
    layout->addSpacing(24);
    layout->addWidget(toggle_, 0, Qt::AlignHCenter);
    layout->addSpacing(16);
    layout->addWidget(lines_, 0, Qt::AlignHCenter);
    layout->addStretch(3);

    QObject::connect(toggle_, &QPushButton::clicked, &model_, &AppModel::toggleConnection);
    for (auto signal : {&AppModel::statusChanged, &AppModel::busyChanged, &AppModel::messageChanged,
                        &AppModel::noticeChanged, &AppModel::linkedChanged, &AppModel::updateStateChanged})
        QObject::connect(&model_, signal, this, &StatusPanel::refresh);
    refresh();
}

void StatusPanel::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (shown_) return;
    shown_ = true;
    model_.reload();
    model_.startPolling();
    model_.checkUpdateSilently();
}

void StatusPanel::refresh() {
    const TunnelStatus& status = model_.status();
    QString label = QString::fromStdString(TrayText::label(status, model_.mandatoryUpdatePending()));
    state_->setText(label.left(1).toUpper() + label.mid(1));
    server_->setText(model_.linked() ? QString::fromStdString(status.serverName)
                                     : QStringLiteral("Устройство не привязано"));
    bool up = status.state == TunnelState::connected || status.state == TunnelState::connecting;
    toggle_->setText(up ? QStringLiteral("Отключить") : QStringLiteral("Подключить"));
    toggle_->setEnabled(!model_.busy());
    QString lines =
        QString::fromStdString(model_.notice().value_or(model_.message().value_or(status.message)));
    lines_->setText(lines);
}

} // namespace orvex

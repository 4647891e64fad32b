#include "HomePanel.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "AppModel.h"
#include "ConnectButton.h"
#include "ConnectDial.h"
#include "Pieces.h"
#include "ScreenTexts.h"
#include "Theme.h"
#include "UpdateCard.h"

namespace orvex {

HomePanel::HomePanel(AppModel& model, QWidget* parent)
    : QWidget(parent), model_(model), dial_(new ConnectDial), statusLine_(Pieces::label(QString(), "status")),
      connect_(new ConnectButton), subscriptionState_(Pieces::label(QString(), "secondary")),
      daysLeft_(Pieces::label(QString(), "big")), tariff_(Pieces::label(QString(), "secondary")),
      traffic_(Pieces::label(QString(), "secondary")), updateCard_(new UpdateCard(model)) {
    setObjectName("homePanel");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(16);

    auto* hero = new QVBoxLayout;
    hero->setSpacing(12);
    hero->addWidget(dial_, 0, Qt::AlignHCenter);
    statusLine_->setObjectName("statusLine");
    statusLine_->setAlignment(Qt::AlignHCenter);
    hero->addWidget(statusLine_);
    hero->addWidget(connect_, 0, Qt::AlignHCenter);
    layout->addLayout(hero);
    QObject::connect(connect_, &QPushButton::clicked, &model_, &AppModel::toggleConnection);

    Pieces::Card hold = Pieces::card();
    holdBlock_ = hold.frame;
    holdBlock_->setObjectName("killSwitchBlock");
    holdBlock_->setStyleSheet(
        QStringLiteral("QFrame#killSwitchBlock { border-color: %1; }").arg(Theme::error.name()));
    QLabel* holdTitle = Pieces::label(QStringLiteral("Трафик заблокирован"), "cardTitle");
    holdTitle->setStyleSheet(QStringLiteral("color: %1;").arg(Theme::errorFg.name()));
    hold.layout->addWidget(holdTitle);
    hold.layout->addWidget(
        Pieces::label(QStringLiteral("Туннель восстановить не удалось. Чтобы соединение не ушло в "
                                     "обход VPN, весь трафик остановлен."),
                      "secondary"));
    auto* holdButtons = new QHBoxLayout;
    QPushButton* again = Pieces::primaryButton(QStringLiteral("Подключить"), "holdConnectButton");
    QPushButton* lift = Pieces::secondaryButton(QStringLiteral("Снять блокировку"), "unblockButton");
    holdButtons->addWidget(again);
    holdButtons->addWidget(lift);
    holdButtons->addStretch();
    hold.layout->addLayout(holdButtons);
    QObject::connect(again, &QPushButton::clicked, &model_, &AppModel::connect);
    QObject::connect(lift, &QPushButton::clicked, &model_, &AppModel::unblock);
    layout->addWidget(holdBlock_);

    Pieces::Card subscription = Pieces::card();
    subscription.frame->setObjectName("subscriptionCard");
    subscription.layout->addWidget(Pieces::sectionLabel(QStringLiteral("Подписка")));
    auto* figures = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    left->setSpacing(2);
    subscriptionState_->setObjectName("subscriptionState");
    daysLeft_->setObjectName("daysLeft");
    left->addWidget(subscriptionState_);
    left->addWidget(daysLeft_);
    figures->addLayout(left, 1);
    auto* right = new QVBoxLayout;
    right->setSpacing(2);
    tariff_->setAlignment(Qt::AlignRight);
    traffic_->setAlignment(Qt::AlignRight);
    traffic_->setObjectName("traffic");
    right->addWidget(tariff_);
    right->addWidget(traffic_);
    figures->addLayout(right);
    subscription.layout->addLayout(figures);
    layout->addWidget(subscription.frame);

    layout->addWidget(updateCard_);
    layout->addStretch();

    for (auto signal : {&AppModel::statusChanged, &AppModel::busyChanged, &AppModel::updateStateChanged})
        QObject::connect(&model_, signal, this, &HomePanel::refreshTunnel);
    QObject::connect(&model_, &AppModel::subscriptionChanged, this, &HomePanel::refreshSubscription);
    refreshTunnel();
    refreshSubscription();
}

void HomePanel::refreshTunnel() {
    const TunnelStatus& status = model_.status();
    dial_->setState(status.state, status.killSwitchHold);
    statusLine_->setText(QString::fromStdString(ScreenTexts::statusLine(status)));
    QColor tone = status.killSwitchHold || status.state == TunnelState::error ? Theme::errorFg
                  : status.state == TunnelState::connected                    ? Theme::ok
                                                                              : Theme::on;
    statusLine_->setStyleSheet(QStringLiteral("color: %1;").arg(tone.name()));
    connect_->setTexts(QString::fromStdString(ScreenTexts::connectCaption(status.state)),
                       QString::fromStdString(ScreenTexts::connectSubtitle(status.state)));
    holdBlock_->setVisible(status.killSwitchHold);
    updateCard_->setVisible(model_.mandatoryUpdatePending());
}

void HomePanel::refreshSubscription() {
    const OptionalSubscription& subscription = model_.subscription();
    bool active = subscription && subscription->isActive;
    daysLeft_->setVisible(active);
    tariff_->setVisible(active);
    traffic_->setVisible(active);
    if (!subscription) {
        subscriptionState_->setText(QStringLiteral("Загрузка…"));
        return;
    }
    if (!active) {
        subscriptionState_->setText(QStringLiteral("неактивна"));
        return;
    }
    subscriptionState_->setText(QStringLiteral("Осталось"));
    daysLeft_->setText(QString::fromStdString(ScreenTexts::days(subscription->daysLeft.value_or(0))));
    tariff_->setText(QString::fromStdString(subscription->tariffName.value_or("")));
    traffic_->setText(QString::fromStdString(
        ScreenTexts::traffic(subscription->trafficUsedGb, subscription->trafficLimitGb)));
}

} // namespace orvex

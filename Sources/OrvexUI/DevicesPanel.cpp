#include "DevicesPanel.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "AppModel.h"
#include "Pieces.h"
#include "Texts.h"
#include "Theme.h"

namespace orvex {

DevicesPanel::DevicesPanel(AppModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    setObjectName("devicesPanel");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(20);
    QPushButton* reload = Pieces::secondaryButton(QStringLiteral("Обновить"), "reloadDevicesButton");
    QPushButton* revokeOthers =
        Pieces::dangerButton(QStringLiteral("Отозвать остальные"), "revokeOthersButton");
    layout->addWidget(
        Pieces::panelHeader(Pieces::panelTitle(QStringLiteral("Устройства")), {reload, revokeOthers}));
    Pieces::Card card = Pieces::listCard("deviceList");
    list_ = card.layout;
    layout->addWidget(card.frame);
    layout->addStretch();

    QObject::connect(reload, &QPushButton::clicked, &model_, &AppModel::loadDevices);
    QObject::connect(revokeOthers, &QPushButton::clicked, &model_, &AppModel::revokeOtherDevices);
    QObject::connect(&model_, &AppModel::devicesChanged, this, &DevicesPanel::refresh);
    refresh();
}

void DevicesPanel::refresh() {
    Pieces::clear(list_);
    if (model_.devices().empty()) {
        list_->addWidget(Pieces::emptyLine(QStringLiteral("Список пуст"), "devicesEmpty"));
        return;
    }
    for (const DeviceItem& device : model_.devices()) {
        QString id = QString::number(device.id);
        QPushButton* revoke = nullptr;
        if (!device.current) {
            revoke = Pieces::secondaryButton(QStringLiteral("Отозвать"), "");
            revoke->setObjectName(QStringLiteral("revokeDevice") + id);
            revoke->setAccessibleName(QStringLiteral("Отозвать ") + QString::fromStdString(device.label));
            QObject::connect(revoke, &QPushButton::clicked, this,
                             [this, device] { model_.revokeDevice(device); });
        }
        Pieces::ListRow row =
            Pieces::listRow(QString::fromStdString(device.label),
                            QString::fromStdString(Texts::platformLabel(device.platform) + " · активность " +
                                                   Texts::stamp(device.lastUsedAt)),
                            revoke, Pieces::symbolTile(QStringLiteral("laptop")));
        row.widget->setObjectName(QStringLiteral("deviceRow") + id);
        if (device.current) {
            QLabel* chip = Pieces::statusChip(QStringLiteral("это устройство"), Theme::ok, Theme::okDim);
            chip->setObjectName("currentDeviceChip");
            row.titleLine->insertWidget(1, chip);
        }
        Pieces::addDivided(list_, row.widget);
    }
}

} // namespace orvex

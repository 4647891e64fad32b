#include "UpdateCard.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "AppModel.h"
#include "Pieces.h"
#include "Version.h"

namespace orvex {

UpdateCard::UpdateCard(AppModel& model, QWidget* parent)
    : QFrame(parent), model_(model), mandatory_(Pieces::plate("mandatoryUpdatePlate", "warn")),
      ready_(Pieces::plate("updateReadyPlate", "ok")), progress_(new QProgressBar),
      progressLabel_(Pieces::label(QString(), "secondary")),
      install_(Pieces::primaryButton(QString(), "installUpdateButton")),
      check_(Pieces::secondaryButton(QStringLiteral("Проверить обновления"), "checkUpdateButton")) {
    setObjectName("updateCard");
    setProperty("role", "card");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 18, 18, 18);
    layout->setSpacing(10);
    layout->addWidget(Pieces::sectionLabel(QStringLiteral("Обновление")));
    QLabel* installed = nullptr;
    layout->addWidget(Pieces::infoRow(QStringLiteral("Установлено"), installed));
    installed->setText(QString::fromStdString(Version::current()));
    layout->addWidget(Pieces::infoRow(QStringLiteral("Доступно"), available_));
    available_->setObjectName("availableVersion");
    layout->addWidget(mandatory_);
    layout->addWidget(progressLabel_);
    progress_->setTextVisible(false);
    progress_->setRange(0, 100);
    progress_->setAccessibleName(QStringLiteral("Загрузка обновления"));
    layout->addWidget(progress_);
    layout->addWidget(ready_);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(install_);
    buttons->addWidget(check_);
    buttons->addStretch();
    layout->addLayout(buttons);
    layout->addWidget(Pieces::label(
        QStringLiteral(
            "Обновление скачивается с сервера ORVEX по HTTPS. Подписи Apple Developer ID у сборки нет."),
        "tertiary"));

    QObject::connect(install_, &QPushButton::clicked, &model_, &AppModel::installUpdate);
    QObject::connect(check_, &QPushButton::clicked, &model_, &AppModel::checkUpdate);
    for (auto signal :
         {&AppModel::updateStateChanged, &AppModel::updateProgressChanged, &AppModel::busyChanged})
        QObject::connect(&model_, signal, this, &UpdateCard::refresh);
    refresh();
}

void UpdateCard::refresh() {
    const OptionalUpdate& update = model_.update();
    QString version = update ? QString::fromStdString(update->version) : QString();
    available_->setText(update ? version : QStringLiteral("—"));
    Pieces::setPlate(
        mandatory_,
        update && update->mandatory && !model_.updateReady()
            ? QStringLiteral("Обновление обязательное: текущая версия больше не поддерживается сервером.")
            : QString(),
        "warn");
    Pieces::setPlate(
        ready_,
        model_.updateReady()
            ? QStringLiteral("Установлено. Закройте и откройте ORVEX, чтобы новая версия заработала.")
            : QString(),
        "ok");
    const OptionalFraction& fraction = model_.updateProgress();
    progress_->setVisible(fraction.has_value());
    progressLabel_->setVisible(fraction.has_value());
    if (fraction) {
        int percent = static_cast<int>(*fraction * 100);
        progress_->setValue(percent);
        progressLabel_->setText(QStringLiteral("Загрузка %1%").arg(percent));
    }
    install_->setText(QStringLiteral("Обновить до %1").arg(version));
    install_->setVisible(update && !model_.updateReady());
    install_->setEnabled(!model_.busy());
    check_->setEnabled(!model_.busy());
}

} // namespace orvex

#include "UpdateDialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "AppModel.h"
#include "Pieces.h"
#include "Version.h"

namespace orvex {

UpdateDialog::UpdateDialog(AppModel& model, QWidget* parent)
    : QDialog(parent), model_(model), title_(Pieces::label(QString(), "panelTitle")),
      text_(Pieces::label(QString(), "secondary")), changelog_(Pieces::label(QString())) {
    setObjectName("updateDialog");
    setModal(true);
    setMinimumWidth(440);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 20);
    layout->setSpacing(12);
    layout->addWidget(title_);
    layout->addWidget(text_);
    changelog_->setObjectName("changelog");
    layout->addWidget(changelog_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    QPushButton* later = Pieces::secondaryButton(QStringLiteral("Закрыть"), "dismissUpdateButton");
    QPushButton* install = Pieces::primaryButton(QStringLiteral("Обновить"), "updateNowButton");
    install->setDefault(true);
    buttons->addWidget(later);
    buttons->addWidget(install);
    layout->addLayout(buttons);
    QObject::connect(install, &QPushButton::clicked, this, [this] {
        model_.installUpdate();
        accept();
    });
    QObject::connect(later, &QPushButton::clicked, this, &QDialog::reject);
    QObject::connect(this, &QDialog::rejected, &model_, &AppModel::dismissUpdateDialog);
}

void UpdateDialog::refresh() {
    const OptionalUpdate& update = model_.update();
    if (!update) return;
    bool mandatory = update->mandatory;
    setWindowTitle(mandatory ? QStringLiteral("Требуется обновление") : QStringLiteral("Вышло обновление"));
    title_->setText(windowTitle());
    QString text =
        QStringLiteral("Версия %1. Установлена %2.")
            .arg(QString::fromStdString(update->version), QString::fromStdString(Version::current()));
    if (mandatory)
        text +=
            QStringLiteral(" Текущая версия больше не поддерживается сервером — без обновления приложение "
                           "работать не будет.");
    text_->setText(text);
    changelog_->setText(QString::fromStdString(update->changelog));
    changelog_->setVisible(!update->changelog.empty());
}

} // namespace orvex

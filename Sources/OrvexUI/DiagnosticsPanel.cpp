#include "DiagnosticsPanel.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "AppModel.h"
#include "Paths.h"
#include "Pieces.h"
#include "Toggle.h"

namespace orvex {

DiagnosticsPanel::DiagnosticsPanel(AppModel& model, QWidget* parent)
    : QWidget(parent), model_(model),
      check_(Pieces::secondaryButton(QStringLiteral("Проверить"), "checkExitIPButton")),
      exitAddress_(Pieces::plate("exitAddressPlate", "ok")),
      logging_(new Toggle(QStringLiteral("Записывать лог в файл"))) {
    setObjectName("diagnosticsPanel");
    logging_->setObjectName("loggingToggle");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    layout->addWidget(Pieces::panelHeader(Pieces::panelTitle(QStringLiteral("Диагностика")), {}));
    layout->addSpacing(8);

    layout->addWidget(Pieces::sectionLabel(QStringLiteral("Сеть")));
    Pieces::Card network = Pieces::card(20);
    network.frame->setObjectName("exitAddressCard");
    network.layout->setContentsMargins(20, 6, 20, 16);
    network.layout->addWidget(Pieces::listRow(QStringLiteral("Внешний адрес"),
                                              QStringLiteral("Покажет, через какой адрес вас видит интернет"),
                                              check_)
                                  .widget);
    exitAddress_->setStyleSheet(
        QStringLiteral("font-family: \"DejaVu Sans Mono\", monospace; font-size: 14px;"));
    network.layout->addWidget(exitAddress_);
    layout->addWidget(network.frame);
    layout->addSpacing(12);

    layout->addWidget(Pieces::sectionLabel(QStringLiteral("Логи")));
    Pieces::Card logs = Pieces::listCard("logsCard");
    Pieces::addDivided(logs.layout,
                       Pieces::listRow(QStringLiteral("Записывать лог в файл"),
                                       QStringLiteral("В лог попадают адреса серверов и ход подключения, "
                                                      "поэтому он выключен по умолчанию"),
                                       logging_)
                           .widget);
    QPushButton* reveal = Pieces::secondaryButton(QStringLiteral("Показать"), "revealLogButton");
    // The service's folder is the one of the platform the program runs on, not a fixed path.
    Pieces::ListRow files =
        Pieces::listRow(QStringLiteral("Файлы логов"),
                        QStringLiteral("Лог приложения — в вашей папке, лог службы — в ") +
                            QString::fromStdString(Paths::daemonLogDir()),
                        reveal);
    files.widget->setObjectName("logFilesRow");
    Pieces::addDivided(logs.layout, files.widget);
    layout->addWidget(logs.frame);
    layout->addStretch();

    QObject::connect(check_, &QPushButton::clicked, &model_, &AppModel::checkExitIP);
    QObject::connect(logging_, &Toggle::clicked, &model_, &AppModel::setLogging);
    QObject::connect(reveal, &QPushButton::clicked, &model_, &AppModel::revealAppLog);
    for (auto signal : {&AppModel::statusChanged, &AppModel::loggingEnabledChanged, &AppModel::busyChanged})
        QObject::connect(&model_, signal, this, &DiagnosticsPanel::refresh);
    refresh();
}

void DiagnosticsPanel::refresh() {
    Pieces::setPlate(exitAddress_, QString::fromStdString(model_.status().exitIP), "ok");
    logging_->setChecked(model_.loggingEnabled());
    check_->setEnabled(!model_.busy());
}

} // namespace orvex

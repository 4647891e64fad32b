#include "LinkTelegramCard.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "AppModel.h"
#include "Forms.h"
#include "Pieces.h"

namespace orvex {

LinkTelegramCard::LinkTelegramCard(AppModel& model, QWidget* parent)
    : QFrame(parent), model_(model),
      code_(Pieces::themedField(QStringLiteral("Код из бота"), "telegramCodeField", true)) {
    setObjectName("linkTelegramCard");
    QVBoxLayout* layout = Pieces::cardLayout(this, 20);
    layout->setSpacing(12);
    layout->addWidget(Pieces::label(QStringLiteral("Telegram-бот"), "cardTitle"));
    layout->addWidget(
        Pieces::label(QStringLiteral("Привяжите бота, чтобы покупать подписку и получать уведомления. "
                                     "Код выдаёт сам бот по команде /start."),
                      "secondary"));
    QPushButton* link = Pieces::primaryButton(QStringLiteral("Привязать"), "linkTelegramButton");
    QPushButton* bot = Pieces::secondaryButton(QStringLiteral("Открыть бота"), "openBotButton");
    layout->addLayout(Pieces::formLine(code_, {link, bot}));

    QObject::connect(code_, &QLineEdit::returnPressed, this, &LinkTelegramCard::submit);
    QObject::connect(link, &QPushButton::clicked, this, &LinkTelegramCard::submit);
    QObject::connect(bot, &QPushButton::clicked, &model_, &AppModel::openBotForCode);
}

void LinkTelegramCard::submit() {
    Forms::submit(
        model_, this, [this] { model_.linkTelegram(code_->text().toStdString()); },
        [this] { code_->clear(); });
}

} // namespace orvex

#include "LinkEmailCard.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "AppModel.h"
#include "Forms.h"
#include "Pieces.h"

namespace orvex {

LinkEmailCard::LinkEmailCard(AppModel& model, QWidget* parent)
    : QFrame(parent), model_(model), email_(Pieces::themedField(QStringLiteral("Почта"), "linkEmailField")),
      password_(
          Pieces::themedField(QStringLiteral("Пароль (от 8 символов)"), "linkPasswordField", false, true)) {
    setObjectName("linkEmailCard");
    QVBoxLayout* layout = Pieces::cardLayout(this, 20);
    layout->setSpacing(12);
    layout->addWidget(Pieces::label(QStringLiteral("Вход по почте"), "cardTitle"));
    layout->addWidget(
        Pieces::label(QStringLiteral("Задайте почту и пароль — после подтверждения письма в аккаунт "
                                     "можно будет входить и без бота, например на другом компьютере."),
                      "secondary"));
    auto* fields = new QHBoxLayout;
    fields->setSpacing(10);
    fields->addWidget(email_, 1);
    fields->addWidget(password_, 1);
    layout->addLayout(fields);
    QPushButton* link = Pieces::primaryButton(QStringLiteral("Привязать почту"), "linkEmailButton");
    layout->addWidget(link, 0, Qt::AlignLeft);

    QObject::connect(email_, &QLineEdit::returnPressed, this, &LinkEmailCard::submit);
    QObject::connect(password_, &QLineEdit::returnPressed, this, &LinkEmailCard::submit);
    QObject::connect(link, &QPushButton::clicked, this, &LinkEmailCard::submit);
}

void LinkEmailCard::submit() {
    Forms::submit(
        model_, this,
        [this] { model_.linkEmail(email_->text().toStdString(), password_->text().toStdString()); },
        [this] {
            email_->clear();
            password_->clear();
        });
}

} // namespace orvex

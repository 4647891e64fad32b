#include "LinkView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "AppModel.h"
#include "Icons.h"
#include "ModelLines.h"
#include "Pieces.h"
#include "Theme.h"

namespace orvex {

namespace {

QWidget* form(QVBoxLayout*& layout) {
    auto* widget = new QWidget;
    layout = new QVBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    return widget;
}

QHBoxLayout* row(std::initializer_list<QWidget*> widgets) {
    auto* layout = new QHBoxLayout;
    layout->setSpacing(10);
    for (QWidget* widget : widgets) layout->addWidget(widget);
    layout->addStretch();
    return layout;
}

std::string text(QLineEdit* field) { return field->text().toStdString(); }

} // namespace

LinkView::LinkView(AppModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    setObjectName("linkView");
    setProperty("role", "page");
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(32, 32, 32, 32);
    outer->addStretch(1);

    auto* column = new QWidget;
    column->setMaximumWidth(440);
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);
    auto* emblem = new QLabel;
    emblem->setPixmap(Icons::pixmap(QStringLiteral("shield-fill"), Theme::accent, 48, devicePixelRatioF()));
    emblem->setAccessibleName(QStringLiteral("ORVEX"));
    layout->addWidget(emblem, 0, Qt::AlignHCenter);
    QLabel* title = Pieces::label(QStringLiteral("Вход в ORVEX"), "screenTitle");
    title->setAlignment(Qt::AlignHCenter);
    layout->addWidget(title);
    QLabel* subtitle = Pieces::label(QStringLiteral("Подключите приложение к вашему аккаунту"), "secondary");
    subtitle->setAlignment(Qt::AlignHCenter);
    layout->addWidget(subtitle);
    layout->addSpacing(6);
    layout->addWidget(new ModelLines(model_));

    Pieces::Card card = Pieces::card(22);
    // Only the current form is visible, so the card is always as tall as that one form.
    forms_[static_cast<int>(Mode::email)] = emailForm();
    forms_[static_cast<int>(Mode::code)] = codeForm();
    forms_[static_cast<int>(Mode::reset)] = resetForm();
    for (QWidget* form : forms_) card.layout->addWidget(form);
    layout->addWidget(card.frame);

    auto* centre = new QHBoxLayout;
    centre->addStretch();
    centre->addWidget(column, 4);
    centre->addStretch();
    outer->addLayout(centre);
    outer->addStretch(2);

    QObject::connect(&model_, &AppModel::pendingLinkCodeChanged, this, [this] {
        if (!model_.pendingLinkCode()) return;
        code_->setText(QString::fromStdString(*model_.pendingLinkCode()));
        setMode(Mode::code);
    });
    setMode(Mode::code);
}

void LinkView::setMode(Mode mode) {
    mode_ = mode;
    for (int i = 0; i < 3; ++i) forms_[i]->setVisible(i == static_cast<int>(mode));
    if (mode == Mode::reset && resetEmail_->text().isEmpty()) resetEmail_->setText(email_->text());
    QLineEdit* first = mode == Mode::code ? code_ : mode == Mode::email ? email_ : resetEmail_;
    first->setFocus();
}

QWidget* LinkView::codeForm() {
    QVBoxLayout* layout = nullptr;
    QWidget* widget = form(layout);
    layout->addWidget(Pieces::label(
        QStringLiteral("Откройте бот, отправьте /start и выберите «Привязать приложение» — бот пришлёт код."),
        "secondary"));
    code_ = Pieces::themedField(QStringLiteral("Код из бота"), "codeField", true);
    layout->addWidget(code_);
    QPushButton* signIn = Pieces::primaryButton(QStringLiteral("Войти по коду"), "codeSignInButton");
    QPushButton* bot = Pieces::secondaryButton(QStringLiteral("Открыть бота"), "openBotButton");
    layout->addLayout(row({signIn, bot}));
    QPushButton* toEmail = Pieces::linkButton(QStringLiteral("Войти по почте и паролю"), "toEmailButton");
    layout->addWidget(toEmail, 0, Qt::AlignLeft);

    auto submit = [this] { model_.link(text(code_)); };
    QObject::connect(code_, &QLineEdit::returnPressed, this, submit);
    QObject::connect(signIn, &QPushButton::clicked, this, submit);
    QObject::connect(bot, &QPushButton::clicked, &model_, &AppModel::openBotForCode);
    QObject::connect(toEmail, &QPushButton::clicked, this, [this] { setMode(Mode::email); });
    return widget;
}

QWidget* LinkView::emailForm() {
    QVBoxLayout* layout = nullptr;
    QWidget* widget = form(layout);
    email_ = Pieces::themedField(QStringLiteral("Почта"), "emailField");
    password_ = Pieces::themedField(QStringLiteral("Пароль"), "passwordField", false, true);
    layout->addWidget(email_);
    layout->addWidget(password_);
    QPushButton* signIn = Pieces::primaryButton(QStringLiteral("Войти"), "emailSignInButton");
    QPushButton* create = Pieces::secondaryButton(QStringLiteral("Создать аккаунт"), "registerButton");
    layout->addLayout(row({signIn, create}));
    QPushButton* forgot = Pieces::linkButton(QStringLiteral("Забыли пароль?"), "toResetButton");
    QPushButton* toCode = Pieces::linkButton(QStringLiteral("Войти по коду из бота"), "toCodeButton");
    layout->addLayout(row({forgot, toCode}));

    auto submit = [this] { model_.login(text(email_), text(password_)); };
    QObject::connect(email_, &QLineEdit::returnPressed, password_, qOverload<>(&QWidget::setFocus));
    QObject::connect(password_, &QLineEdit::returnPressed, this, submit);
    QObject::connect(signIn, &QPushButton::clicked, this, submit);
    QObject::connect(create, &QPushButton::clicked, this,
                     [this] { model_.registerAccount(text(email_), text(password_)); });
    QObject::connect(forgot, &QPushButton::clicked, this, [this] { setMode(Mode::reset); });
    QObject::connect(toCode, &QPushButton::clicked, this, [this] { setMode(Mode::code); });
    return widget;
}

QWidget* LinkView::resetForm() {
    QVBoxLayout* layout = nullptr;
    QWidget* widget = form(layout);
    layout->addWidget(
        Pieces::label(QStringLiteral("Пришлём код на почту, а затем задайте новый пароль."), "secondary"));
    resetEmail_ = Pieces::themedField(QStringLiteral("Почта"), "resetEmailField");
    QPushButton* send = Pieces::secondaryButton(QStringLiteral("Прислать код"), "sendResetCodeButton");
    auto* emailRow = new QHBoxLayout;
    emailRow->addWidget(resetEmail_, 1);
    emailRow->addWidget(send);
    layout->addLayout(emailRow);
    resetCode_ = Pieces::themedField(QStringLiteral("Код из письма"), "resetCodeField", true);
    newPassword_ = Pieces::themedField(QStringLiteral("Новый пароль"), "newPasswordField", false, true);
    layout->addWidget(resetCode_);
    layout->addWidget(newPassword_);
    QPushButton* change = Pieces::primaryButton(QStringLiteral("Сменить пароль"), "resetPasswordButton");
    layout->addLayout(row({change}));
    QPushButton* back = Pieces::linkButton(QStringLiteral("Назад ко входу"), "backToEmailButton");
    layout->addWidget(back, 0, Qt::AlignLeft);

    auto submit = [this] { model_.resetPassword(text(resetCode_), text(newPassword_)); };
    QObject::connect(resetEmail_, &QLineEdit::returnPressed, send, &QPushButton::click);
    QObject::connect(send, &QPushButton::clicked, this, [this] { model_.forgotPassword(text(resetEmail_)); });
    QObject::connect(resetCode_, &QLineEdit::returnPressed, newPassword_, qOverload<>(&QWidget::setFocus));
    QObject::connect(newPassword_, &QLineEdit::returnPressed, this, submit);
    QObject::connect(change, &QPushButton::clicked, this, submit);
    QObject::connect(back, &QPushButton::clicked, this, [this] { setMode(Mode::email); });
    return widget;
}

} // namespace orvex

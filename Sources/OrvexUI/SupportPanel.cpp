#include "SupportPanel.h"

#include <QFileDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QShortcut>
#include <QVBoxLayout>

#include "AppModel.h"
#include "Forms.h"
#include "Pieces.h"
#include "Texts.h"
#include "Theme.h"

namespace orvex {

std::function<QString(QWidget*)> SupportPanel::chooseFile = [](QWidget* parent) {
    return QFileDialog::getOpenFileName(parent, QStringLiteral("Приложить файл"));
};

namespace {

constexpr int bubbleWidth = 460;

} // namespace

SupportPanel::SupportPanel(AppModel& model, QWidget* parent)
    : QWidget(parent), model_(model), report_(new QPlainTextEdit),
      note_(Pieces::label(QString(), "secondary")),
      reply_(Pieces::themedField(QStringLiteral("Ответить поддержке"), "replyField")) {
    setObjectName("supportPanel");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(20);
    layout->addWidget(Pieces::panelHeader(Pieces::panelTitle(QStringLiteral("Поддержка")), {}));

    Pieces::Card compose = Pieces::card(20);
    compose.frame->setObjectName("reportCard");
    compose.layout->setSpacing(14);
    compose.layout->addWidget(
        Pieces::label(QStringLiteral("Опишите, что не работает. Ответ придёт в Telegram-бот.")));
    report_->setObjectName("reportEdit");
    report_->setAccessibleName(QStringLiteral("Текст обращения"));
    report_->setTabChangesFocus(true);
    report_->setFixedHeight(112);
    compose.layout->addWidget(report_);
    auto* send = new QHBoxLayout;
    send->setSpacing(16);
    note_->setObjectName("logsNote");
    send->addWidget(note_, 1);
    QPushButton* sendReport = Pieces::primaryButton(QStringLiteral("Отправить"), "sendReportButton");
    send->addWidget(sendReport, 0, Qt::AlignTop);
    compose.layout->addLayout(send);
    layout->addWidget(compose.frame);

    reload_ = Pieces::secondaryButton(QStringLiteral("Обновить"), "reloadMessagesButton");
    layout->addSpacing(4);
    layout->addWidget(
        Pieces::panelHeader(Pieces::label(QStringLiteral("Переписка"), "cardTitle"), {reload_}));
    Pieces::Card conversation = Pieces::card(20);
    conversation.frame->setObjectName("conversationCard");
    conversation.layout->setSpacing(16);
    messages_ = new QVBoxLayout;
    messages_->setSpacing(12);
    conversation.layout->addLayout(messages_);
    auto* line = new QFrame;
    line->setProperty("role", "divider");
    conversation.layout->addWidget(line);
    QPushButton* attach = Pieces::secondaryButton(QStringLiteral("Приложить"), "attachButton");
    QPushButton* sendReply = Pieces::primaryButton(QStringLiteral("Отправить"), "sendReplyButton");
    conversation.layout->addLayout(Pieces::formLine(reply_, {attach, sendReply}));
    layout->addWidget(conversation.frame);
    layout->addStretch();

    // A report spans lines, so Return stays a line break there and Ctrl+Return sends it.
    auto* sendShortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Return), report_);
    sendShortcut->setContext(Qt::WidgetShortcut);
    QObject::connect(sendShortcut, &QShortcut::activated, this, &SupportPanel::sendReport);
    QObject::connect(sendReport, &QPushButton::clicked, this, &SupportPanel::sendReport);
    QObject::connect(reload_, &QPushButton::clicked, &model_, &AppModel::loadSupportMessages);
    QObject::connect(reply_, &QLineEdit::returnPressed, this, &SupportPanel::sendReply);
    QObject::connect(sendReply, &QPushButton::clicked, this, &SupportPanel::sendReply);
    QObject::connect(attach, &QPushButton::clicked, this, &SupportPanel::attach);
    QObject::connect(&model_, &AppModel::loggingEnabledChanged, this, &SupportPanel::refreshNote);
    QObject::connect(&model_, &AppModel::supportMessagesChanged, this, &SupportPanel::refreshMessages);
    refreshNote();
    refreshMessages();
}

void SupportPanel::refreshNote() {
    note_->setText(
        model_.loggingEnabled()
            ? QStringLiteral("К обращению приложатся последние строки логов приложения и службы. Токена и "
                             "конфига в них нет.")
            : QStringLiteral("Логи выключены — уйдёт только текст обращения. Включите запись логов в "
                             "«Диагностике», если проблему нужно разобрать."));
}

void SupportPanel::refreshMessages() {
    Pieces::clear(messages_);
    if (model_.supportMessages().empty()) {
        messages_->addWidget(Pieces::emptyLine(QStringLiteral("Сообщений пока нет"), "messagesEmpty"));
        return;
    }
    for (const SupportMessageItem& message : model_.supportMessages()) {
        auto* row = new QWidget;
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(0, 0, 0, 0);
        // The user's own words on the right, support's on the left, as in any messenger.
        if (!message.isFromSupport()) line->addStretch();
        line->addWidget(bubble(message));
        if (message.isFromSupport()) line->addStretch();
        messages_->addWidget(row);
    }
    // New rows join the end of the focus chain; Tab should meet their buttons where they stand,
    // between the refresh button and the reply field.
    QWidget* previous = reload_;
    for (QPushButton* save : findChildren<QPushButton*>(QRegularExpression(QStringLiteral("^saveFile")))) {
        setTabOrder(previous, save);
        previous = save;
    }
    setTabOrder(previous, reply_);
}

QWidget* SupportPanel::bubble(const SupportMessageItem& message) {
    bool own = !message.isFromSupport();
    auto* bubble = new QFrame;
    bubble->setObjectName(QStringLiteral("message") + QString::number(message.id));
    bubble->setMaximumWidth(bubbleWidth);
    // ".QFrame" styles the bubble alone: the labels inside are frames too.
    bubble->setStyleSheet(
        QStringLiteral(".QFrame { background: %1; border: 1px solid %2; border-radius: 16px; }")
            .arg(Pieces::css(own ? Theme::rgb(0x7C4DFF, 0.22) : Theme::surface2),
                 Pieces::css(own ? Theme::rgb(0x7C4DFF, 0.4) : Theme::outline)));
    auto* layout = new QVBoxLayout(bubble);
    layout->setContentsMargins(14, 10, 14, 12);
    layout->setSpacing(4);

    auto* head = new QHBoxLayout;
    head->setSpacing(8);
    QLabel* author = Pieces::label(own ? QStringLiteral("Вы") : QStringLiteral("Поддержка"));
    author->setWordWrap(false);
    author->setStyleSheet(QStringLiteral("font-size: 12px; font-weight: 600; color: %1;")
                              .arg((own ? Theme::on : Theme::accent2).name()));
    head->addWidget(author);
    QLabel* time = Pieces::label(QString::fromStdString(Texts::stamp(message.createdAt)));
    time->setWordWrap(false);
    time->setStyleSheet(QStringLiteral("font-size: 12px; color: %1;").arg(Theme::onMed.name()));
    head->addWidget(time);
    head->addStretch();
    layout->addLayout(head);

    if (message.text && !message.text->empty())
        layout->addWidget(Pieces::label(QString::fromStdString(*message.text)));
    if (message.fileKind || message.fileName) {
        QString name = QString::fromStdString(message.fileName.value_or(""));
        auto* file = new QHBoxLayout;
        file->setSpacing(12);
        QLabel* attachment = Pieces::label(QStringLiteral("вложение: ") + name, "secondary");
        file->addWidget(attachment, 1);
        QPushButton* save = Pieces::linkButton(QStringLiteral("Сохранить"), "");
        save->setObjectName(QStringLiteral("saveFile") + QString::number(message.id));
        save->setAccessibleName(QStringLiteral("Сохранить ") + name);
        QObject::connect(save, &QPushButton::clicked, this,
                         [this, message] { model_.saveSupportFile(message); });
        file->addWidget(save);
        layout->addLayout(file);
    }
    return bubble;
}

void SupportPanel::sendReport() {
    Forms::submit(
        model_, this, [this] { model_.sendReport(report_->toPlainText().toStdString()); },
        [this] { report_->clear(); });
}

void SupportPanel::sendReply() {
    Forms::submit(
        model_, this, [this] { model_.sendSupportMessage(reply_->text().toStdString()); },
        [this] { reply_->clear(); });
}

void SupportPanel::attach() {
    QString path = chooseFile(this);
    if (!path.isEmpty()) model_.attachSupportFile(path.toStdString());
}

} // namespace orvex

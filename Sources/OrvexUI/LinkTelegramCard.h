#pragma once

#include <QFrame>

class QLineEdit;

namespace orvex {

class AppModel;

// Ties the Telegram bot to the account with the code the bot hands out.
class LinkTelegramCard : public QFrame {
    Q_OBJECT
public:
    explicit LinkTelegramCard(AppModel& model, QWidget* parent = nullptr);

private:
    void submit();

    AppModel& model_;
    QLineEdit* code_;
};

} // namespace orvex

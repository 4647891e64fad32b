#pragma once

#include <QFrame>

class QLineEdit;

namespace orvex {

class AppModel;

// Gives the account an e-mail address and a password, so that it can be entered without the bot.
class LinkEmailCard : public QFrame {
    Q_OBJECT
public:
    explicit LinkEmailCard(AppModel& model, QWidget* parent = nullptr);

private:
    void submit();

    AppModel& model_;
    QLineEdit* email_;
    QLineEdit* password_;
};

} // namespace orvex

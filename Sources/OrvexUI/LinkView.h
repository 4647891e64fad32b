#pragma once

#include <QWidget>

class QLineEdit;

namespace orvex {

class AppModel;

// The sign-in screen: a code from the bot, e-mail and password, or a password reset.
class LinkView : public QWidget {
    Q_OBJECT
public:
    enum class Mode { email, code, reset };

    explicit LinkView(AppModel& model, QWidget* parent = nullptr);
    void setMode(Mode mode);
    Mode mode() const { return mode_; }

private:
    QWidget* codeForm();
    QWidget* emailForm();
    QWidget* resetForm();

    AppModel& model_;
    Mode mode_ = Mode::code;
    QWidget* forms_[3] = {}; // by Mode
    QLineEdit* code_ = nullptr;
    QLineEdit* email_ = nullptr;
    QLineEdit* password_ = nullptr;
    QLineEdit* resetEmail_ = nullptr;
    QLineEdit* resetCode_ = nullptr;
    QLineEdit* newPassword_ = nullptr;
};

} // namespace orvex

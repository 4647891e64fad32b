#pragma once

#include <QFrame>

#include <cstdint>

class QLabel;
class QProgressBar;

namespace orvex {

// The server panel's notice while a server change must wait: how long still, the hint, and a
// bar of the pause already over.
class CooldownNotice : public QFrame {
    Q_OBJECT
public:
    explicit CooldownNotice(QWidget* parent = nullptr);
    // Hidden when `left` is 0 or less.
    void setCooldown(std::int64_t left, std::int64_t total);
    QString waitText() const;

private:
    QLabel* wait_;
    QProgressBar* bar_;
};

} // namespace orvex

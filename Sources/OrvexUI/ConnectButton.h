#pragma once

#include <QPushButton>

class QLabel;

namespace orvex {

// The large button under the dial: a caption and a line under it, with the power symbol.
class ConnectButton : public QPushButton {
    Q_OBJECT
public:
    explicit ConnectButton(QWidget* parent = nullptr);
    void setTexts(const QString& caption, const QString& subtitle);
    QString caption() const;
    QString subtitle() const;

private:
    QLabel* caption_;
    QLabel* subtitle_;
};

} // namespace orvex

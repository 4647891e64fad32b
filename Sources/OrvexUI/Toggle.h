#pragma once

#include <QAbstractButton>

namespace orvex {

// An on/off switch drawn in the theme's colours; checkable, keyboard-operable.
class Toggle : public QAbstractButton {
    Q_OBJECT
public:
    explicit Toggle(const QString& accessibleName, QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace orvex

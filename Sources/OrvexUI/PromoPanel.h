#pragma once

#include <QWidget>

class QLineEdit;

namespace orvex {

class AppModel;

// Entering a promo code.
class PromoPanel : public QWidget {
    Q_OBJECT
public:
    explicit PromoPanel(AppModel& model, QWidget* parent = nullptr);

private:
    void submit();

    AppModel& model_;
    QLineEdit* code_;
};

} // namespace orvex

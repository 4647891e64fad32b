#pragma once

#include <QDialog>

class QLabel;

namespace orvex {

class AppModel;

// The sheet that offers a new version: "Обновить" installs it, closing dismisses this version
// (a required one comes back).
class UpdateDialog : public QDialog {
    Q_OBJECT
public:
    explicit UpdateDialog(AppModel& model, QWidget* parent = nullptr);
    // Fills the texts from the model's offer.
    void refresh();

private:
    AppModel& model_;
    QLabel* title_;
    QLabel* text_;
    QLabel* changelog_;
};

} // namespace orvex

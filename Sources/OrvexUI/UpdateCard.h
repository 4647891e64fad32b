#pragma once

#include <QFrame>

class QLabel;
class QProgressBar;
class QPushButton;

namespace orvex {

class AppModel;

// What is installed, what is offered, and the way to it: check, install, progress, and the
// word to restart once the new version is in place.
class UpdateCard : public QFrame {
    Q_OBJECT
public:
    explicit UpdateCard(AppModel& model, QWidget* parent = nullptr);

private:
    void refresh();

    AppModel& model_;
    QLabel* available_;
    QLabel* mandatory_;
    QLabel* ready_;
    QProgressBar* progress_;
    QLabel* progressLabel_;
    QPushButton* install_;
    QPushButton* check_;
};

} // namespace orvex

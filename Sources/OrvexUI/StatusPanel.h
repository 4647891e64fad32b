#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace orvex {

class AppModel;

// A plain view of the model for the main window until the full screens take its place: the
// tunnel's state and server, the model's lines, and the connect button.
class StatusPanel : public QWidget {
    Q_OBJECT
public:
    explicit StatusPanel(AppModel& model, QWidget* parent = nullptr);

protected:
    // Periodic work starts when the window is first shown.
    void showEvent(QShowEvent* event) override;

private:
    void refresh();

    AppModel& model_;
    QLabel* state_;
    QLabel* server_;
    QLabel* lines_;
    QPushButton* toggle_;
    bool shown_ = false;
};

} // namespace orvex

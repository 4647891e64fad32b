#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace orvex {

class AppModel;
class Toggle;

// Tools for finding out what goes wrong: the address the internet sees, the log switch, and
// where the logs are kept.
class DiagnosticsPanel : public QWidget {
    Q_OBJECT
public:
    explicit DiagnosticsPanel(AppModel& model, QWidget* parent = nullptr);

private:
    void refresh();

    AppModel& model_;
    QPushButton* check_;
    QLabel* exitAddress_;
    Toggle* logging_;
};

} // namespace orvex

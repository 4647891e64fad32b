#pragma once

#include <QWidget>

class QLabel;

namespace orvex {

class AppModel;

// The model's two lines where the user is looking: the error of the last action (`message`)
// and what is happening or what the server confirmed (`notice`). Each plate shows while its
// line is set and goes when the model clears it.
class ModelLines : public QWidget {
    Q_OBJECT
public:
    explicit ModelLines(AppModel& model, QWidget* parent = nullptr);

private:
    void refresh();

    AppModel& model_;
    QLabel* message_;
    QLabel* notice_;
};

} // namespace orvex

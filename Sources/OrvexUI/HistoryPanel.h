#pragma once

#include <QWidget>

class QVBoxLayout;

namespace orvex {

class AppModel;

// What happened on the account, newest first, as the server lists it.
class HistoryPanel : public QWidget {
    Q_OBJECT
public:
    explicit HistoryPanel(AppModel& model, QWidget* parent = nullptr);

private:
    void refresh();

    AppModel& model_;
    QVBoxLayout* list_;
};

} // namespace orvex

#pragma once

#include <QWidget>

class QVBoxLayout;

namespace orvex {

class AppModel;

// The devices signed in to the account; any but this one can be revoked, one by one or all at
// once.
class DevicesPanel : public QWidget {
    Q_OBJECT
public:
    explicit DevicesPanel(AppModel& model, QWidget* parent = nullptr);

private:
    void refresh();

    AppModel& model_;
    QVBoxLayout* list_;
};

} // namespace orvex

#pragma once

#include <QWidget>

#include <vector>

#include "APITypes.h"

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace orvex {

class AppModel;
class CooldownNotice;

// The servers of the subscription: one row each with its echo time, a check mark on the one in
// use; a row switches to its server. While the server's pause between changes lasts, a notice
// says how long it still is.
class ServerPanel : public QWidget {
    Q_OBJECT
public:
    explicit ServerPanel(AppModel& model, QWidget* parent = nullptr);

private:
    struct Row {
        ServerItem server;
        QPushButton* button;
        QLabel* name;
        QLabel* ping;
        QLabel* check;
    };

    // Rows are made again only when the list itself changes, so that a row keeps its focus
    // through the frequent reloads that bring the same list.
    void refreshList();
    void refreshRows();
    void refreshCooldown();

    AppModel& model_;
    CooldownNotice* cooldown_;
    QVBoxLayout* list_;
    std::vector<Row> rows_;
};

} // namespace orvex

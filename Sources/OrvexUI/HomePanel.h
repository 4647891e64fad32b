#pragma once

#include <QWidget>

class QFrame;
class QLabel;
class QPushButton;

namespace orvex {

class AppModel;
class ConnectButton;
class ConnectDial;

// The first panel: the dial, the status line, the connect button, the subscription, the
// kill-switch block while traffic is held, and the update card while an update is required.
class HomePanel : public QWidget {
    Q_OBJECT
public:
    explicit HomePanel(AppModel& model, QWidget* parent = nullptr);

private:
    void refreshTunnel();
    void refreshSubscription();

    AppModel& model_;
    ConnectDial* dial_;
    QLabel* statusLine_;
    ConnectButton* connect_;
    QFrame* holdBlock_;
    QLabel* subscriptionState_;
    QLabel* daysLeft_;
    QLabel* tariff_;
    QLabel* traffic_;
    QWidget* updateCard_;
};

} // namespace orvex

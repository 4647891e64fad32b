#pragma once

#include <QWidget>

class QFrame;
class QLabel;

namespace orvex {

class AppModel;
class LinkEmailCard;
class LinkTelegramCard;
class Toggle;

// The switches of the tunnel and of the start at login, the state of the background service,
// and the ways into the account: the bot and an e-mail address, each either stated as linked
// or offered as a form.
class SettingsPanel : public QWidget {
    Q_OBJECT
public:
    explicit SettingsPanel(AppModel& model, QWidget* parent = nullptr);

private:
    void refreshSwitches();
    void refreshService();
    void refreshAccount();

    AppModel& model_;
    Toggle* adBlock_;
    Toggle* killSwitch_;
    Toggle* autostart_;
    QFrame* serviceInstalled_;
    QFrame* serviceAbsent_;
    QLabel* accountSection_;
    QFrame* telegramLinked_;
    LinkTelegramCard* linkTelegram_;
    QFrame* emailVerified_;
    QFrame* emailUnverified_;
    LinkEmailCard* linkEmail_;
};

} // namespace orvex

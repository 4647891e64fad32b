#pragma once

#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>
#include <string>

#include "AppEnvironment.h"
#include "Paths.h"

class QAction;
class QMainWindow;
class QMenu;
class QSystemTrayIcon;
class QTimer;

namespace orvex {

class AppModel;
class WidgetStatus;

struct AppDelegateOptions {
    std::string widgetFolder = Paths::sharedDir();
    mode_t widgetFolderMode = Paths::sharedDirMode();
    // Ends the application once the deferred quit has been answered; quits Qt's loop unless set.
    std::function<void()> terminate;
};

// The desktop application around the model: the one main window, the tray icon with its menu,
// the main menu, the orvexvpn:// links, the widget's files, and a quit that first takes an
// active tunnel down. Owns the model for the whole run.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    using Options = AppDelegateOptions;

    explicit AppDelegate(AppEnvironment environment = AppEnvironment(), Options options = Options());
    ~AppDelegate() override;

    // Start-up: the main menu, the window, the tray, and the model's links to both and to the
    // widget.
    void launch();
    void showWindow();
    // The URLs the desktop handed over (a second start, a link, the widget's fallback).
    void openURLs(const QStringList& urls);
    // Quit now, or once the tunnel is down but never after more than 5 s; answered once.
    void requestQuit();

    AppModel& model() { return *model_; }
    WidgetStatus& widget() { return *widget_; }
    QMainWindow* window() { return window_.get(); }
    QSystemTrayIcon* tray() { return tray_.get(); }
    QMenu* trayMenu() { return trayMenu_.get(); }

private:
    void updateStatusItem();
    void publishToWidget();
    void showAbout();
    void replyToQuit();
    // A toggle from outside (a link, the widget) that arrives before the first status after
    // launch would be decided on the neutral status; it waits for one refresh instead.
    void toggleOnKnownStatus();

    Options options_;
    std::unique_ptr<WidgetStatus> widget_;
    std::unique_ptr<AppModel> model_;
    std::unique_ptr<QMainWindow> window_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    std::unique_ptr<QMenu> trayMenu_;
    QAction* titleItem_ = nullptr;
    QAction* actionItem_ = nullptr;
    bool actionOpensWindow_ = false;
    std::string shownLabel_;
    bool windowPlaced_ = false;
    bool statusKnown_ = false;
    bool toggleWaiting_ = false;
    bool quitting_ = false;
    bool terminationReplied_ = false;
};

} // namespace orvex

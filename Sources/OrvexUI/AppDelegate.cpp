#include "AppDelegate.h"

#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>

#include "AppModel.h"
#include "DeepLink.h"
#include "Icons.h"
#include "MainMenu.h"
#include "RootView.h"
#include "Theme.h"
#include "TokenStore.h"
#include "TrayText.h"
#include "Version.h"
#include "WidgetStatus.h"

namespace orvex {

namespace {

constexpr auto quitLimit = std::chrono::seconds(5);
constexpr auto firstStatusLimit = std::chrono::seconds(3);

// The tray has no idea of the panel's colours on Linux, so each state carries its own; macOS
// draws the symbol as a template in the menu bar's colour instead.
QColor trayColour(TunnelState state) {
    switch (state) {
    case TunnelState::connected:
        return QColor(0x2e, 0xb8, 0x5c);
    case TunnelState::connecting:
        return QColor(0xe8, 0xa3, 0x17);
    case TunnelState::error:
        return QColor(0xe5, 0x48, 0x4d);
    case TunnelState::disconnected:
        break;
    }
    return QColor(0x8e, 0x8e, 0x93);
}

bool isUp(TunnelState state) { return state == TunnelState::connected || state == TunnelState::connecting; }

} // namespace

AppDelegate::AppDelegate(AppEnvironment environment, Options options) : options_(std::move(options)) {
    if (!options_.terminate) options_.terminate = [] { QCoreApplication::quit(); };
    widget_ = std::make_unique<WidgetStatus>(options_.widgetFolder, options_.widgetFolderMode);
    environment.widgetPending = [this](const std::string& pending) {
        widget_->notePending(pending == "disconnect");
    };
    TokenStore::relaxAccessOnce(*environment.keychain);
    model_ = std::make_unique<AppModel>(std::move(environment));
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::launch() {
    window_ = std::make_unique<QMainWindow>();
    window_->setObjectName("mainWindow");
    window_->setWindowTitle(QStringLiteral("ORVEX"));
    window_->resize(960, 620);
    window_->setMinimumSize(860, 580);
    if (auto* application = qobject_cast<QApplication*>(QCoreApplication::instance()))
        application->setStyleSheet(Theme::styleSheet());
    window_->setCentralWidget(new RootView(*model_));
    MainMenu::install(*window_, {.about = [this] { showAbout(); }, .quit = [this] { requestQuit(); }});
    showWindow();

    trayMenu_ = std::make_unique<QMenu>();
    titleItem_ = trayMenu_->addAction(QString());
    titleItem_->setEnabled(false);
    trayMenu_->addSeparator();
    actionItem_ = trayMenu_->addAction(QString(), this, [this] {
        if (actionOpensWindow_)
            showWindow();
        else
            model_->toggleConnection();
    });
    trayMenu_->addAction(QStringLiteral("Открыть ORVEX"), this, &AppDelegate::showWindow);
    trayMenu_->addSeparator();
    trayMenu_->addAction(QStringLiteral("Выход"), this, &AppDelegate::requestQuit);
    tray_ = std::make_unique<QSystemTrayIcon>();
    tray_->setContextMenu(trayMenu_.get());
    QObject::connect(tray_.get(), &QSystemTrayIcon::activated, this,
                     [this](QSystemTrayIcon::ActivationReason why) {
                         if (why == QSystemTrayIcon::Trigger || why == QSystemTrayIcon::DoubleClick)
                             showWindow();
                     });
    updateStatusItem();
    tray_->show();

    QObject::connect(model_.get(), &AppModel::statusChanged, this, [this] {
        statusKnown_ = true;
        updateStatusItem();
        publishToWidget();
        if (toggleWaiting_) toggleOnKnownStatus();
    });
    for (auto signal : {&AppModel::updateChanged, &AppModel::updateReadyChanged})
        QObject::connect(model_.get(), signal, this, [this] {
            updateStatusItem();
            publishToWidget();
        });
    // A toggle that ended, or was never run, must not leave the widget showing it pending.
    QObject::connect(model_.get(), &AppModel::actionFinished, widget_.get(), &WidgetStatus::clearPending);
    publishToWidget();
    widget_->watchCommands([this] { toggleOnKnownStatus(); });
    widget_->startHeartbeat();
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, widget_.get(), &WidgetStatus::noteAppGone);
}

void AppDelegate::showWindow() {
    if (!windowPlaced_ && window_->screen()) {
        window_->move(window_->screen()->availableGeometry().center() - window_->rect().center());
        windowPlaced_ = true;
    }
    window_->show();
    window_->setWindowState(window_->windowState() & ~Qt::WindowMinimized);
    window_->raise();
    window_->activateWindow();
}

void AppDelegate::updateStatusItem() {
    const TunnelStatus& status = model_->status();
    bool blocked = model_->mandatoryUpdatePending();
    std::string label = TrayText::label(status, blocked);
    // The status is assigned every second; the menu changes only when its words do.
    std::string shown = label + "|" + std::string(wireText(status.state)) + (blocked ? "|1" : "|0");
    if (shown == shownLabel_) return;
    shownLabel_ = shown;
    tray_->setIcon(Icons::named(Icons::trayName(status.state), trayColour(status.state)));
    tray_->setToolTip(QString::fromStdString(TrayText::toolTip(status, blocked)));
    titleItem_->setText(QString::fromStdString("ORVEX — " + label));
    TrayText::ActionItem action = TrayText::action(status.state, blocked);
    actionItem_->setText(QString::fromStdString(action.title));
    actionOpensWindow_ = action.opensWindow;
}

void AppDelegate::publishToWidget() {
    widget_->publish(model_->status().state, model_->status().serverName, model_->mandatoryUpdatePending());
}

void AppDelegate::showAbout() {
    QMessageBox::about(
        window_.get(), QStringLiteral("О программе ORVEX"),
        QStringLiteral("<b>ORVEX</b><br>Версия %1").arg(QString::fromStdString(Version::current())));
}

void AppDelegate::toggleOnKnownStatus() {
    if (statusKnown_) {
        toggleWaiting_ = false;
        model_->toggleConnection();
        return;
    }
    if (toggleWaiting_) return;
    toggleWaiting_ = true;
    model_->refreshStatus();
    // A service that stays silent must not swallow the press.
    QTimer::singleShot(firstStatusLimit, this, [this] {
        if (!toggleWaiting_) return;
        statusKnown_ = true;
        toggleOnKnownStatus();
    });
}

void AppDelegate::openURLs(const QStringList& urls) {
    for (const QString& text : urls) {
        QString host = QUrl(text).host();
        if (host == QLatin1String("toggle")) {
            showWindow();
            toggleOnKnownStatus();
            return;
        }
        if (host == QLatin1String("update")) {
            showWindow();
            return;
        }
        if (std::optional<std::string> code = DeepLink::code(text.toStdString())) {
            showWindow();
            model_->handleDeepLinkCode(*code);
            return;
        }
    }
    showWindow();
}

void AppDelegate::requestQuit() {
    if (quitting_) return;
    quitting_ = true;
    if (!isUp(model_->status().state)) {
        replyToQuit();
        return;
    }
    model_->shutdownTunnel([this] { replyToQuit(); });
    QTimer::singleShot(quitLimit, this, [this] { replyToQuit(); });
}

void AppDelegate::replyToQuit() {
    if (terminationReplied_) return;
    terminationReplied_ = true;
    widget_->noteAppGone();
    options_.terminate();
}

} // namespace orvex

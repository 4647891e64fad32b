#include "RunApp.h"

#include <QApplication>
#include <QFileOpenEvent>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include "AppDelegate.h"
#include "DeepLink.h"
#include "DesktopEntry.h"
#include "SingleInstance.h"

namespace orvex {

namespace {

// macOS hands links to a running application as open events rather than arguments.
class OpenEvents : public QObject {
public:
    explicit OpenEvents(AppDelegate& delegate) : delegate_(delegate) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::FileOpen) return QObject::eventFilter(watched, event);
        delegate_.openURLs({static_cast<QFileOpenEvent*>(event)->url().toString()});
        return true;
    }

private:
    AppDelegate& delegate_;
};

// A session that ends, or a plain `kill`, sends SIGTERM: the application then quits as from
// its menu, taking an active tunnel down and telling the widget it is gone. The handler only
// writes a byte; the event loop does the rest.
int signalPipe[2] = {-1, -1};

void onTerminate(int) {
    char byte = 1;
    [[maybe_unused]] ssize_t ignored = ::write(signalPipe[1], &byte, 1);
}

void quitOnTerminate(AppDelegate& delegate, std::unique_ptr<QSocketNotifier>& notifier) {
    if (::pipe(signalPipe) != 0) return;
    for (int fd : signalPipe) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, O_NONBLOCK);
    }
    notifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, &delegate, [&delegate] {
        char bytes[16];
        while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
        }
        delegate.requestQuit();
    });
    struct sigaction action {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT}) ::sigaction(signal, &action, nullptr);
}

QString linkArgument(int argc, char** argv) {
    QString prefix = QString::fromUtf8(DeepLink::scheme.data(), DeepLink::scheme.size()) + ':';
    for (int i = 1; i < argc; ++i) {
        QString argument = QString::fromLocal8Bit(argv[i]);
        if (argument.startsWith(prefix, Qt::CaseInsensitive)) return argument;
    }
    return {};
}

} // namespace

int runApp(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ORVEX"));
    QApplication::setDesktopFileName(QStringLiteral("orvex"));
    QApplication::setQuitOnLastWindowClosed(false);

    QString link = linkArgument(argc, argv);
    SingleInstance instance;
    if (instance.handOver(link)) return 0;

    AppDelegate delegate;
    instance.listen([&delegate](const QString& message) {
        if (message.isEmpty())
            delegate.showWindow();
        else
            delegate.openURLs({message});
    });
    std::unique_ptr<QSocketNotifier> terminations;
    quitOnTerminate(delegate, terminations);
    OpenEvents openEvents(delegate);
    application.installEventFilter(&openEvents);
    DesktopEntry::registerURLHandler();
    delegate.launch();
    if (!link.isEmpty()) delegate.openURLs({link});
    return QApplication::exec();
}

} // namespace orvex

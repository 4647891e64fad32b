#include "RunApp.h"

#include <QApplication>
#include <QFileOpenEvent>

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
    OpenEvents openEvents(delegate);
    application.installEventFilter(&openEvents);
    DesktopEntry::registerURLHandler();
    delegate.launch();
    if (!link.isEmpty()) delegate.openURLs({link});
    return QApplication::exec();
}

} // namespace orvex

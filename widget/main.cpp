// orvex-widget: the ORVEX desktop widget, its own small program. It shares nothing with the
// application but the two files in the shared folder and the orvexvpn:// links.
#include <QApplication>
#include <QCommandLineParser>
#include <QLockFile>

#include <filesystem>

#include "WidgetFiles.h"
#include "WidgetView.h"

int main(int argc, char** argv) {
    using orvex::widget::WidgetView;
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orvex-widget"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Виджет ORVEX: состояние подключения и кнопка включения."));
    parser.addHelpOption();
    QCommandLineOption small(QStringLiteral("small"), QStringLiteral("Маленький виджет."));
    QCommandLineOption medium(QStringLiteral("medium"), QStringLiteral("Средний виджет."));
    parser.addOptions({small, medium});
    parser.process(application);

    // One widget per user: a second start (by hand while the login one runs) just leaves.
    std::filesystem::path settings = orvex::widget::WidgetFiles::settingsPath();
    std::error_code ignored;
    std::filesystem::create_directories(settings.parent_path(), ignored);
    QLockFile lock(QString::fromStdString((settings.parent_path() / "widget.lock").string()));
    if (!lock.tryLock(0)) return 0;

    WidgetView::Options options;
    if (parser.isSet(medium)) options.family = WidgetView::Family::medium;
    if (parser.isSet(small)) options.family = WidgetView::Family::small;
    WidgetView view(options);
    view.show();
    return QApplication::exec();
}

#include "MainMenu.h"

#include <QKeySequence>
#include <QMainWindow>
#include <QMenuBar>

namespace orvex::MainMenu {

void install(QMainWindow& window, const Actions& actions) {
    QMenu* application = window.menuBar()->addMenu(QStringLiteral("ORVEX"));
    application->addAction(QStringLiteral("О программе ORVEX"), actions.about);
    application->addSeparator();
    application->addAction(QStringLiteral("Выйти из ORVEX"), QKeySequence::Quit, actions.quit);
    addEditMenu(window);
    addWindowMenu(window);
}

} // namespace orvex::MainMenu

#include "MainMenu.h"

#include <QApplication>
#include <QKeySequence>
#include <QMainWindow>
#include <QMenuBar>

namespace orvex::MainMenu {

void install(QMainWindow& window, const Actions& actions) {
    // Qt moves the About and Quit roles into the application menu and adds the hide items there.
    QMenu* application = window.menuBar()->addMenu(QStringLiteral("ORVEX"));
    QAction* about = application->addAction(QStringLiteral("О программе ORVEX"), actions.about);
    about->setMenuRole(QAction::AboutRole);
    QAction* quit =
        application->addAction(QStringLiteral("Выйти из ORVEX"), QKeySequence::Quit, actions.quit);
    quit->setMenuRole(QAction::QuitRole);
    addEditMenu(window);
    addWindowMenu(window);
}

} // namespace orvex::MainMenu

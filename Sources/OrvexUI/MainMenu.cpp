#include "MainMenu.h"

#include <QApplication>
#include <QKeySequence>
#include <QMainWindow>
#include <QMenuBar>

namespace orvex::MainMenu {

namespace {

// Runs `slot` on the focused widget when it has one by that name (line and text edits do),
// the way a Mac menu item goes to the first responder.
void toFocus(const char* slot) {
    if (QWidget* focused = QApplication::focusWidget()) QMetaObject::invokeMethod(focused, slot);
}

} // namespace

void addEditMenu(QMainWindow& window) {
    QMenu* edit = window.menuBar()->addMenu(QStringLiteral("Правка"));
    struct Item {
        const char* title;
        QKeySequence::StandardKey keys;
        const char* slot;
    };
    const Item items[] = {{"Отменить", QKeySequence::Undo, "undo"},
                          {"Повторить", QKeySequence::Redo, "redo"},
                          {nullptr, QKeySequence::UnknownKey, nullptr},
                          {"Вырезать", QKeySequence::Cut, "cut"},
                          {"Копировать", QKeySequence::Copy, "copy"},
                          {"Вставить", QKeySequence::Paste, "paste"},
                          {"Выбрать все", QKeySequence::SelectAll, "selectAll"}};
    for (const Item& item : items) {
        if (item.title == nullptr) {
            edit->addSeparator();
            continue;
        }
        const char* slot = item.slot;
        QAction* action = edit->addAction(QString::fromUtf8(item.title), [slot] { toFocus(slot); });
        action->setShortcut(item.keys);
        // The text fields handle these keys themselves; the menu item is for the mouse.
        action->setShortcutContext(Qt::WidgetShortcut);
    }
}

void addWindowMenu(QMainWindow& window) {
    QMenu* menu = window.menuBar()->addMenu(QStringLiteral("Окно"));
    menu->addAction(QStringLiteral("Свернуть"), QKeySequence(Qt::CTRL | Qt::Key_M), &window,
                    &QWidget::showMinimized);
    menu->addAction(QStringLiteral("Закрыть"), QKeySequence::Close, &window, &QWidget::close);
}

} // namespace orvex::MainMenu

#pragma once

#include <functional>

class QMainWindow;
class QMenu;

// The application's main menu: on macOS the application menu, Правка and Окно of a Mac
// application; on Linux the same items in the window's menu bar, without the hide items a
// Linux desktop does not have.
namespace orvex::MainMenu {

struct Actions {
    std::function<void()> about;
    std::function<void()> quit;
};

void install(QMainWindow& window, const Actions& actions);

// Shared by both: Правка (sent to the focused text field) and Окно.
void addEditMenu(QMainWindow& window);
void addWindowMenu(QMainWindow& window);

} // namespace orvex::MainMenu

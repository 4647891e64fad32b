#pragma once

#include <QFileSystemWatcher>
#include <QPoint>
#include <QTimer>
#include <QWidget>

#include <optional>
#include <string>

#include "Snapshot.h"
#include "ToggleIntent.h"
#include "WidgetFiles.h"

class QLabel;
class QPushButton;

namespace orvex::widget {

// The widget on the desktop: a small frameless window that shows what the status file says
// and offers the one button. It keeps nothing of its own but its size and place on screen;
// everything it shows is read from the file, again whenever the shared folder changes, after
// each press, and at the latest 60 s (20 s with a pending toggle) after the last reading.
class WidgetView : public QWidget {
public:
    enum class Family { small, medium };

    struct Options {
        ToggleIntent::OpenURL openURL = ToggleIntent::openWithDesktop;
        ToggleIntent::Now now = std::chrono::system_clock::now;
        std::string settingsPath = WidgetFiles::settingsPath();
        // The size to use instead of the remembered one (a command-line choice); it is then
        // remembered itself.
        std::optional<Family> family;
    };

    explicit WidgetView(Options options);

    // Reads the status file now and redraws.
    void reload();
    Family family() const { return family_; }
    void setFamily(Family family);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    static QSize sizeOf(Family family);
    // The width the text may take in the current size.
    int room() const;
    void redraw();
    void fitTitle(const QString& text);
    void watchFolders();
    void placeOnScreen();

    Options options_;
    ToggleIntent intent_;
    Family family_ = Family::small;
    Snapshot snapshot_ = Snapshot::unknown();
    std::string tapURL_;

    QLabel* dot_;
    QLabel* title_;
    QLabel* subtitle_;
    QPushButton* toggleButton_;
    QPushButton* updateButton_;
    QFileSystemWatcher watcher_;
    QTimer refreshTimer_;

    // The button's press is still waiting for the application: one press at a time.
    bool toggling_ = false;
    // A press on the body: where it began, and whether it turned into a drag.
    std::optional<QPoint> pressedAt_;
    QPoint windowAtPress_;
    bool dragging_ = false;
    bool placed_ = false;
};

} // namespace orvex::widget

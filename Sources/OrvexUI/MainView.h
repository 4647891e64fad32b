#pragma once

#include <QWidget>

#include <vector>

class QButtonGroup;
class QPushButton;
class QStackedWidget;

namespace orvex {

class AppModel;

// The signed-in screen: the sidebar of panels and the selected panel, with the model's lines
// above it.
class MainView : public QWidget {
    Q_OBJECT
public:
    enum class Panel { home, server, settings, diagnostics, history, promo, support, devices };

    explicit MainView(AppModel& model, QWidget* parent = nullptr);

    // Shows `panel`; the lists of history, support and devices load every time they are shown.
    void select(Panel panel);
    Panel panel() const { return panel_; }

private:
    QWidget* sidebar();

    AppModel& model_;
    Panel panel_ = Panel::home;
    QStackedWidget* panels_;
    QButtonGroup* rows_;
};

} // namespace orvex

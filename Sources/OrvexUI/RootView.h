#pragma once

#include <QWidget>

class QStackedWidget;

namespace orvex {

class AppModel;
class LinkView;
class MainView;
class UpdateDialog;

// The window's content: the sign-in screen or the main screen by whether the device is
// linked, and the update dialog while an update asks to be shown. Starts the model's periodic
// work the first time it is shown.
class RootView : public QWidget {
    Q_OBJECT
public:
    explicit RootView(AppModel& model, QWidget* parent = nullptr);

    LinkView* linkView() const { return link_; }
    MainView* mainView() const { return main_; }
    UpdateDialog* updateDialog() const { return dialog_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refresh();

    AppModel& model_;
    QStackedWidget* screens_;
    LinkView* link_;
    MainView* main_;
    UpdateDialog* dialog_;
    bool started_ = false;
};

} // namespace orvex

#include "RootView.h"

#include <QStackedWidget>
#include <QVBoxLayout>

#include "AppModel.h"
#include "LinkView.h"
#include "MainView.h"
#include "UpdateDialog.h"

namespace orvex {

RootView::RootView(AppModel& model, QWidget* parent)
    : QWidget(parent), model_(model), screens_(new QStackedWidget), link_(new LinkView(model)),
      main_(new MainView(model)), dialog_(new UpdateDialog(model, this)) {
    setObjectName("root");
    setAttribute(Qt::WA_StyledBackground);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    screens_->addWidget(link_);
    screens_->addWidget(main_);
    layout->addWidget(screens_);
    for (auto signal : {&AppModel::linkedChanged, &AppModel::updateStateChanged})
        QObject::connect(&model_, signal, this, &RootView::refresh);
    refresh();
}

void RootView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refresh();
    if (started_) return;
    started_ = true;
    model_.reload();
    model_.startPolling();
    model_.checkUpdateSilently();
}

void RootView::refresh() {
    QWidget* screen = model_.linked() ? static_cast<QWidget*>(main_) : link_;
    if (screens_->currentWidget() != screen) {
        screens_->setCurrentWidget(screen);
        // A new sign-in starts on the first panel.
        if (screen == main_) main_->select(MainView::Panel::home);
    }
    bool offer = model_.showUpdateDialog() && isVisible();
    if (offer) dialog_->refresh();
    if (offer != dialog_->isVisible()) {
        if (offer)
            dialog_->open();
        else
            dialog_->hide();
    }
}

} // namespace orvex

#include "HistoryPanel.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "AppModel.h"
#include "Pieces.h"
#include "Texts.h"

namespace orvex {

HistoryPanel::HistoryPanel(AppModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    setObjectName("historyPanel");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(20);
    QPushButton* reload = Pieces::secondaryButton(QStringLiteral("Обновить"), "reloadEventsButton");
    layout->addWidget(Pieces::panelHeader(Pieces::panelTitle(QStringLiteral("История")), {reload}));
    Pieces::Card card = Pieces::listCard("eventList");
    list_ = card.layout;
    layout->addWidget(card.frame);
    layout->addStretch();

    QObject::connect(reload, &QPushButton::clicked, &model_, &AppModel::loadEvents);
    QObject::connect(&model_, &AppModel::eventsChanged, this, &HistoryPanel::refresh);
    refresh();
}

void HistoryPanel::refresh() {
    Pieces::clear(list_);
    if (model_.events().empty()) {
        list_->addWidget(Pieces::emptyLine(QStringLiteral("Событий пока нет"), "eventsEmpty"));
        return;
    }
    for (const EventItem& event : model_.events()) {
        QLabel* time = Pieces::label(QString::fromStdString(Texts::stamp(event.createdAt)), "secondary");
        time->setWordWrap(false);
        Pieces::ListRow row = Pieces::listRow(QString::fromStdString(Texts::eventLabel(event.eventType)),
                                              QString::fromStdString(event.payload.value_or("")), time);
        row.widget->setObjectName("eventRow");
        Pieces::addDivided(list_, row.widget);
    }
}

} // namespace orvex

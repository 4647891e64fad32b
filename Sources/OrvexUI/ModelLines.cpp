#include "ModelLines.h"

#include <QLabel>
#include <QVBoxLayout>

#include "AppModel.h"
#include "Pieces.h"

namespace orvex {

ModelLines::ModelLines(AppModel& model, QWidget* parent)
    : QWidget(parent), model_(model), message_(Pieces::plate("messagePlate", "error")),
      notice_(Pieces::plate("noticePlate", "info")) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(notice_);
    layout->addWidget(message_);
    QObject::connect(&model_, &AppModel::messageChanged, this, &ModelLines::refresh);
    QObject::connect(&model_, &AppModel::noticeChanged, this, &ModelLines::refresh);
    refresh();
}

void ModelLines::refresh() {
    Pieces::setPlate(message_, QString::fromStdString(model_.message().value_or("")), "error");
    Pieces::setPlate(notice_, QString::fromStdString(model_.notice().value_or("")), "info");
    setVisible(model_.message() || model_.notice());
}

} // namespace orvex

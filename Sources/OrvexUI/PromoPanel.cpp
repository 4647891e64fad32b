#include "PromoPanel.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "AppModel.h"
#include "Forms.h"
#include "Pieces.h"

namespace orvex {

PromoPanel::PromoPanel(AppModel& model, QWidget* parent)
    : QWidget(parent), model_(model),
      code_(Pieces::themedField(QStringLiteral("Введите промокод"), "promoField", true)) {
    setObjectName("promoPanel");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(20);
    layout->addWidget(Pieces::panelHeader(Pieces::panelTitle(QStringLiteral("Промокод")), {}));

    Pieces::Card card = Pieces::card(20);
    card.frame->setObjectName("promoCard");
    QPushButton* apply = Pieces::primaryButton(QStringLiteral("Активировать"), "applyPromoButton");
    QHBoxLayout* form = Pieces::formLine(code_, {apply});
    form->insertWidget(0, Pieces::symbolTile(QStringLiteral("gift"), 40));
    form->insertSpacing(1, 6);
    card.layout->addLayout(form);
    layout->addWidget(card.frame);
    layout->addStretch();

    QObject::connect(code_, &QLineEdit::returnPressed, this, &PromoPanel::submit);
    QObject::connect(apply, &QPushButton::clicked, this, &PromoPanel::submit);
}

void PromoPanel::submit() {
    Forms::submit(
        model_, this, [this] { model_.applyPromo(code_->text().toStdString()); }, [this] { code_->clear(); });
}

} // namespace orvex

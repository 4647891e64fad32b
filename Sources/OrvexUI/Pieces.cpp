#include "Pieces.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>

#include <algorithm>

#include "Icons.h"
#include "ScreenTexts.h"
#include "Theme.h"

namespace orvex::Pieces {

namespace {

// A dynamic property changed after the sheet was applied takes effect only after a re-polish.
void repolish(QWidget* widget) {
    widget->style()->unpolish(widget);
    widget->style()->polish(widget);
}

QPushButton* button(const QString& title, const char* name, const char* role) {
    auto* button = new QPushButton(title);
    button->setObjectName(name);
    button->setProperty("role", role);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

} // namespace

QString css(const QColor& colour) {
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(colour.red())
        .arg(colour.green())
        .arg(colour.blue())
        .arg(colour.alphaF(), 0, 'f', 2);
}

QLabel* label(const QString& text, const char* role) {
    auto* label = new QLabel(text);
    if (role != nullptr) label->setProperty("role", role);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QLabel* panelTitle(const QString& text) {
    QLabel* title = label(text, "panelTitle");
    title->setAccessibleName(text);
    return title;
}

QLabel* sectionLabel(const QString& text) { return label(text.toUpper(), "section"); }

Card card(int padding) {
    auto* frame = new QFrame;
    return {frame, cardLayout(frame, padding)};
}

QVBoxLayout* cardLayout(QFrame* frame, int padding) {
    frame->setProperty("role", "card");
    auto* layout = new QVBoxLayout(frame);
    layout->setContentsMargins(padding, padding, padding, padding);
    layout->setSpacing(10);
    return layout;
}

Card listCard(const char* name) {
    Card list = card(20);
    list.frame->setObjectName(name);
    list.layout->setContentsMargins(20, 6, 20, 6);
    list.layout->setSpacing(0);
    return list;
}

QWidget* infoRow(const QString& title, QLabel*& value) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(label(title, "secondary"), 1);
    value = label(QString());
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    layout->addWidget(value);
    return row;
}

QPushButton* primaryButton(const QString& title, const char* name) { return button(title, name, "primary"); }
QPushButton* secondaryButton(const QString& title, const char* name) {
    return button(title, name, "secondary");
}
QPushButton* linkButton(const QString& title, const char* name) { return button(title, name, "link"); }
QPushButton* dangerButton(const QString& title, const char* name) { return button(title, name, "danger"); }

QLineEdit* themedField(const QString& placeholder, const char* name, bool monospaced, bool secure) {
    auto* field = new QLineEdit;
    field->setObjectName(name);
    field->setPlaceholderText(placeholder);
    field->setAccessibleName(placeholder);
    field->setProperty("mono", monospaced);
    if (secure) field->setEchoMode(QLineEdit::Password);
    return field;
}

QLabel* symbolTile(const QString& icon, int size) {
    auto* tile = new QLabel;
    tile->setFixedSize(size, size);
    tile->setAlignment(Qt::AlignCenter);
    int symbol = size / 2;
    tile->setPixmap(Icons::named(icon, Theme::accent2).pixmap(symbol, symbol));
    tile->setStyleSheet(
        QStringLiteral("background: %1; border-radius: %2px;").arg(css(Theme::accentDim)).arg(size * 3 / 10));
    return tile;
}

QHBoxLayout* formLine(QWidget* field, std::initializer_list<QWidget*> buttons) {
    auto* line = new QHBoxLayout;
    line->setSpacing(10);
    line->addWidget(field, 1);
    for (QWidget* button : buttons) line->addWidget(button);
    int height = 0;
    for (int i = 0; i < line->count(); ++i) {
        QWidget* widget = line->itemAt(i)->widget();
        widget->ensurePolished(); // the sheet's padding is part of the height
        height = std::max(height, widget->sizeHint().height());
    }
    for (int i = 0; i < line->count(); ++i) line->itemAt(i)->widget()->setFixedHeight(height);
    return line;
}

QLabel* plate(const char* name, const char* tone) {
    QLabel* plate = label(QString(), "plate");
    plate->setObjectName(name);
    plate->setProperty("tone", tone);
    plate->hide();
    return plate;
}

void setPlate(QLabel* plate, const QString& text, const char* tone) {
    plate->setText(text);
    if (plate->property("tone").toString() != QLatin1String(tone)) {
        plate->setProperty("tone", tone);
        repolish(plate);
    }
    plate->setVisible(!text.isEmpty());
}

QLabel* statusChip(const QString& text, const QColor& tint, const QColor& fill) {
    QLabel* chip = label(text, "chip");
    chip->setWordWrap(false);
    // Qt drops a corner radius above half the height; this keeps the chip's ends round.
    chip->setMinimumHeight(20);
    chip->setStyleSheet(QStringLiteral("color: %1; background: rgba(%2, %3, %4, %5);")
                            .arg(tint.name())
                            .arg(fill.red())
                            .arg(fill.green())
                            .arg(fill.blue())
                            .arg(fill.alphaF(), 0, 'f', 2));
    return chip;
}

QLabel* pingLabel() {
    auto* ping = new QLabel;
    ping->setContentsMargins(8, 8, 8, 8);
    ping->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return ping;
}

void setPing(QLabel* label, std::optional<int> milliseconds) {
    label->setText(QString::fromStdString(ScreenTexts::ping(milliseconds)));
    QColor colour = milliseconds && *milliseconds < 0 ? Theme::onLow : Theme::onMed;
    label->setStyleSheet(QStringLiteral("color: %1; font-size: 12px;").arg(colour.name()));
}

QWidget* panelHeader(QLabel* title, std::initializer_list<QWidget*> actions) {
    auto* header = new QWidget;
    auto* layout = new QHBoxLayout(header);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    // As tall as a button whether or not there are any, so that every panel's title sits at
    // the same height and nothing jumps when the user switches panels.
    header->setMinimumHeight(40);
    layout->addWidget(title, 1);
    for (QWidget* action : actions) layout->addWidget(action, 0, Qt::AlignVCenter);
    return header;
}

ListRow listRow(const QString& title, const QString& subtitle, QWidget* trailing, QWidget* leading) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 12, 0, 12);
    layout->setSpacing(16);
    if (leading != nullptr) layout->addWidget(leading, 0, Qt::AlignVCenter);
    auto* text = new QVBoxLayout;
    text->setSpacing(4);
    auto* titleLine = new QHBoxLayout;
    titleLine->setSpacing(8);
    QLabel* name = label(title);
    name->setWordWrap(false);
    name->setStyleSheet(QStringLiteral("font-size: 14px; font-weight: 500;"));
    titleLine->addWidget(name);
    titleLine->addStretch();
    text->addLayout(titleLine);
    if (!subtitle.isEmpty()) text->addWidget(label(subtitle, "secondary"));
    layout->addLayout(text, 1);
    if (trailing != nullptr) layout->addWidget(trailing, 0, Qt::AlignVCenter);
    return {row, titleLine};
}

void addDivided(QVBoxLayout* list, QWidget* row) {
    if (list->count() > 0) {
        auto* line = new QFrame;
        line->setProperty("role", "divider");
        list->addWidget(line);
    }
    list->addWidget(row);
}

QLabel* emptyLine(const QString& text, const char* name) {
    QLabel* line = label(text, "secondary");
    line->setObjectName(name);
    line->setAlignment(Qt::AlignCenter);
    line->setContentsMargins(0, 18, 0, 18);
    return line;
}

void clear(QLayout* layout) {
    while (QLayoutItem* item = layout->takeAt(0)) {
        // Out of the tree at once, so nothing finds it any more; deleted later, because the
        // signal that rebuilds the list may come from inside one of its rows.
        if (QWidget* widget = item->widget()) {
            widget->setParent(nullptr);
            widget->deleteLater();
        }
        if (QLayout* inner = item->layout()) clear(inner);
        delete item;
    }
}

QFrame* accountStatusCard(const QString& title, const QString& text, const QColor& colour) {
    Card result = card(16);
    auto* head = new QHBoxLayout;
    auto* dot = new QLabel;
    dot->setFixedSize(8, 8);
    dot->setStyleSheet(QStringLiteral("background: %1; border-radius: 4px;").arg(colour.name()));
    head->addWidget(dot);
    head->addWidget(label(title, "cardTitle"), 1);
    result.layout->addLayout(head);
    result.layout->addWidget(label(text, "secondary"));
    return result.frame;
}

} // namespace orvex::Pieces

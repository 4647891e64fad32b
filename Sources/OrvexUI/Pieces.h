#pragma once

#include <QColor>
#include <QString>

#include <initializer_list>
#include <optional>

class QFrame;
class QHBoxLayout;
class QLabel;
class QLayout;
class QLineEdit;
class QPushButton;
class QVBoxLayout;
class QWidget;

// The small building blocks every screen is made of, styled through Theme's sheet.
namespace orvex::Pieces {

// A colour as the style sheet spells it, its opacity included.
QString css(const QColor& colour);

QLabel* label(const QString& text, const char* role = nullptr);
QLabel* panelTitle(const QString& text);
// An upper-case label over a group of rows.
QLabel* sectionLabel(const QString& text);

struct Card {
    QFrame* frame;
    QVBoxLayout* layout;
};
Card card(int padding = 18);
// Makes `frame` a card with its inner margin; for widgets that are cards themselves.
QVBoxLayout* cardLayout(QFrame* frame, int padding);
// A card of list rows, which bring their own vertical spacing.
Card listCard(const char* name);

// A title on the left, its value on the right; the value label is returned for updates.
QWidget* infoRow(const QString& title, QLabel*& value);

QPushButton* primaryButton(const QString& title, const char* name);
QPushButton* secondaryButton(const QString& title, const char* name);
QPushButton* linkButton(const QString& title, const char* name);
QPushButton* dangerButton(const QString& title, const char* name);

QLineEdit* themedField(const QString& placeholder, const char* name, bool monospaced = false,
                       bool secure = false);

// A symbol on a tinted rounded tile, leading a row or heading a card.
QLabel* symbolTile(const QString& icon, int size = 36);

// A form on one line: `field` takes the room, the buttons follow, all of one height.
QHBoxLayout* formLine(QWidget* field, std::initializer_list<QWidget*> buttons);

// A coloured plate for a result or a line of the model; hidden while its text is empty.
QLabel* plate(const char* name, const char* tone = "info");
void setPlate(QLabel* plate, const QString& text, const char* tone);

// A small rounded tag in `tint` on `fill`.
QLabel* statusChip(const QString& text, const QColor& tint, const QColor& fill);

// A server's echo time: nothing, "—" in the tertiary colour, or "N мс".
QLabel* pingLabel();
void setPing(QLabel* label, std::optional<int> milliseconds);

// A panel's title with its actions, if any, on the right.
QWidget* panelHeader(QLabel* title, std::initializer_list<QWidget*> actions);

// One line of a list: an optional leading widget, a title (its line returned, for a chip beside
// it), an optional subtitle under it, and a trailing widget on the right.
struct ListRow {
    QWidget* widget;
    QHBoxLayout* titleLine;
};
ListRow listRow(const QString& title, const QString& subtitle = QString(), QWidget* trailing = nullptr,
                QWidget* leading = nullptr);

// Adds `row` to a card's list, with a divider before every row but the first.
void addDivided(QVBoxLayout* list, QWidget* row);

// The line a list shows while it has no rows.
QLabel* emptyLine(const QString& text, const char* name);

// Deletes everything a layout holds, for lists rebuilt from the model.
void clear(QLayout* layout);

// A card that states one fact about the account, with a dot in `colour`.
QFrame* accountStatusCard(const QString& title, const QString& text, const QColor& colour);

} // namespace orvex::Pieces

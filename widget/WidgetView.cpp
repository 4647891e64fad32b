#include "WidgetView.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QVBoxLayout>
#include <QWindow>

#include <filesystem>

#include "WidgetRules.h"
#include "WidgetTheme.h"

namespace orvex::widget {

namespace fs = std::filesystem;

namespace {

constexpr int padding = 12;
constexpr int spacing = 7;
constexpr int cornerRadius = 20;
constexpr int dotSize = 7;
constexpr int titlePixels = 15;
// The title may shrink to three quarters of its size before it is cut short.
constexpr int smallestTitlePixels = 12;
constexpr int screenMargin = 24;

const QString familyKey = QStringLiteral("family");
const QString positionKey = QStringLiteral("position");

QFont pixelFont(int pixels, QFont::Weight weight) {
    QFont font = QApplication::font();
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

QString css(const QColor& colour) { return colour.name(QColor::HexArgb); }

QString widgetStyle() {
    QColor accent = WidgetTheme::accent();
    QColor pressed = accent.darker(115);
    QColor hover = accent.lighter(112);
    QColor disabled = accent;
    disabled.setAlphaF(0.35f);
    QColor disabledText = WidgetTheme::label();
    disabledText.setAlphaF(0.55f);
    return QStringLiteral("QLabel { background: transparent; color: %1; }"
                          "QLabel#subtitle { color: %2; }"
                          "QPushButton { background: %3; color: %1; border: none; border-radius: 7px;"
                          " padding: 5px 12px; }"
                          "QPushButton:hover { background: %4; }"
                          "QPushButton:pressed { background: %5; }"
                          "QPushButton:disabled { background: %6; color: %7; }"
                          "QPushButton#updateButton { padding: 5px; }")
        .arg(css(WidgetTheme::label()), css(WidgetTheme::secondaryLabel()), css(accent), css(hover),
             css(pressed), css(disabled), css(disabledText));
}

QString text(const std::string& utf8) { return QString::fromStdString(utf8); }

} // namespace

WidgetView::WidgetView(Options options)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnBottomHint),
      options_(std::move(options)),
      intent_(
          {.openURL = options_.openURL,
           .after = [this](std::chrono::milliseconds delay,
                           std::function<void()> step) { QTimer::singleShot(delay, this, std::move(step)); },
           .now = options_.now}),
      dot_(new QLabel), title_(new QLabel), subtitle_(new QLabel), toggleButton_(new QPushButton),
      updateButton_(new QPushButton(QStringLiteral("Обновить"))) {
    setObjectName(QStringLiteral("orvexWidget"));
    setWindowTitle(QStringLiteral("ORVEX"));
    // The rounded corners show the desktop through; macOS would hide a tool window whenever
    // another application is active, which a desktop widget must not do.
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_MacAlwaysShowToolWindow);
    setStyleSheet(widgetStyle());

    dot_->setObjectName(QStringLiteral("dot"));
    dot_->setFixedSize(dotSize, dotSize);
    auto* brand = new QLabel(QStringLiteral("ORVEX"));
    brand->setObjectName(QStringLiteral("brand"));
    QFont brandFont = pixelFont(11, QFont::Bold);
    brandFont.setLetterSpacing(QFont::AbsoluteSpacing, 1.4);
    brand->setFont(brandFont);
    title_->setObjectName(QStringLiteral("title"));
    subtitle_->setObjectName(QStringLiteral("subtitle"));
    subtitle_->setFont(pixelFont(11, QFont::Normal));
    toggleButton_->setObjectName(QStringLiteral("toggleButton"));
    updateButton_->setObjectName(QStringLiteral("updateButton"));
    for (QPushButton* button : {toggleButton_, updateButton_}) {
        button->setFont(pixelFont(12, QFont::DemiBold));
        button->setCursor(Qt::PointingHandCursor);
    }
    updateButton_->setAccessibleName(QStringLiteral("Обновить ORVEX"));

    auto* header = new QHBoxLayout;
    header->setSpacing(6);
    header->addWidget(dot_);
    header->addWidget(brand);
    header->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(padding, padding, padding, padding);
    layout->setSpacing(spacing);
    layout->addStretch();
    layout->addLayout(header);
    layout->addWidget(title_);
    layout->addWidget(subtitle_);
    layout->addWidget(toggleButton_, 0, Qt::AlignLeft);
    layout->addWidget(updateButton_);
    layout->addStretch();

    connect(toggleButton_, &QPushButton::clicked, this, [this] {
        toggling_ = true;
        redraw();
        intent_.perform([this] {
            toggling_ = false;
            reload();
        });
    });
    connect(updateButton_, &QPushButton::clicked, this, [this] { options_.openURL("orvexvpn://update"); });
    // The application replaces the status file by renaming a new one over it, which only the
    // folder's watch sees.
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, [this] { reload(); });
    refreshTimer_.setSingleShot(true);
    connect(&refreshTimer_, &QTimer::timeout, this, [this] { reload(); });

    QSettings settings(QString::fromStdString(options_.settingsPath), QSettings::IniFormat);
    Family family =
        settings.value(familyKey).toString() == QLatin1String("medium") ? Family::medium : Family::small;
    setFamily(options_.family.value_or(family));
    placeOnScreen();
    reload();
}

void WidgetView::reload() {
    watchFolders();
    snapshot_ = WidgetFiles::load();
    redraw();
    refreshTimer_.start(WidgetRules::refreshAfter(snapshot_));
}

void WidgetView::setFamily(Family family) {
    family_ = family;
    setFixedSize(sizeOf(family));
    QSettings settings(QString::fromStdString(options_.settingsPath), QSettings::IniFormat);
    settings.setValue(familyKey,
                      family == Family::medium ? QStringLiteral("medium") : QStringLiteral("small"));
    redraw();
}

QSize WidgetView::sizeOf(Family family) {
    return family == Family::medium ? QSize(338, 158) : QSize(158, 158);
}

int WidgetView::room() const { return sizeOf(family_).width() - 2 * padding; }

void WidgetView::redraw() {
    TimePoint now = options_.now();
    bool update = WidgetRules::updateRequired(snapshot_, now);
    tapURL_ = WidgetRules::tapURL(snapshot_, now);

    QPixmap dot(dotSize * devicePixelRatio(), dotSize * devicePixelRatio());
    dot.setDevicePixelRatio(devicePixelRatio());
    dot.fill(Qt::transparent);
    QPainter painter(&dot);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(WidgetRules::dotColour(snapshot_, now));
    painter.drawEllipse(QRectF(0, 0, dotSize, dotSize));
    painter.end();
    dot_->setPixmap(dot);

    fitTitle(text(WidgetRules::title(snapshot_, now)));
    QString subtitle = text(WidgetRules::subtitle(snapshot_, now));
    subtitle_->setText(QFontMetrics(subtitle_->font()).elidedText(subtitle, Qt::ElideRight, room()));
    subtitle_->setVisible(!subtitle.isEmpty());
    toggleButton_->setText(text(WidgetRules::buttonTitle(snapshot_, now)));
    toggleButton_->setAccessibleName(toggleButton_->text() + QStringLiteral(" ORVEX"));
    toggleButton_->setEnabled(!toggling_ && !WidgetRules::pendingActive(snapshot_, now));
    toggleButton_->setVisible(!update);
    updateButton_->setVisible(update);
}

void WidgetView::fitTitle(const QString& title) {
    int pixels = titlePixels;
    while (pixels > smallestTitlePixels &&
           QFontMetrics(pixelFont(pixels, QFont::DemiBold)).horizontalAdvance(title) > room())
        --pixels;
    QFont fitted = pixelFont(pixels, QFont::DemiBold);
    title_->setFont(fitted);
    title_->setText(QFontMetrics(fitted).elidedText(title, Qt::ElideRight, room()));
}

void WidgetView::watchFolders() {
    // The shared folder may appear only when the application first runs, so until then its
    // nearest existing ancestor is watched to see it come. The widget's own data folder is
    // watched only while it exists: its parent is busy with other programs' files.
    QStringList wanted;
    std::error_code error;
    fs::path shared = WidgetFiles::sharedDir();
    while (!fs::is_directory(shared, error) && shared.has_relative_path()) shared = shared.parent_path();
    wanted << QString::fromStdString(shared.string());
    fs::path own = fs::path(WidgetFiles::candidates().back()).parent_path();
    if (fs::is_directory(own, error)) wanted << QString::fromStdString(own.string());

    QStringList stale;
    for (const QString& folder : watcher_.directories())
        if (!wanted.contains(folder)) stale << folder;
    if (!stale.isEmpty()) watcher_.removePaths(stale);
    for (const QString& folder : wanted)
        if (!watcher_.directories().contains(folder)) watcher_.addPath(folder);
}

void WidgetView::placeOnScreen() {
    QSettings settings(QString::fromStdString(options_.settingsPath), QSettings::IniFormat);
    QPoint position = settings.value(positionKey).toPoint();
    QRect wanted(position, size());
    // A place on a screen that is no longer attached would put the widget out of reach.
    if (settings.contains(positionKey))
        for (QScreen* screen : QGuiApplication::screens())
            if (screen->availableGeometry().intersects(wanted)) {
                move(position);
                placed_ = true;
                return;
            }
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect area = screen->availableGeometry();
        move(area.right() - width() - screenMargin, area.top() + screenMargin);
    }
    placed_ = true;
}

void WidgetView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(WidgetTheme::edge(), 1));
    painter.setBrush(WidgetTheme::bg());
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius, cornerRadius);
}

void WidgetView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    pressedAt_ = event->globalPosition().toPoint();
    windowAtPress_ = pos();
    dragging_ = false;
}

void WidgetView::mouseMoveEvent(QMouseEvent* event) {
    if (!pressedAt_) return QWidget::mouseMoveEvent(event);
    QPoint moved = event->globalPosition().toPoint() - *pressedAt_;
    if (!dragging_ && moved.manhattanLength() < QApplication::startDragDistance()) return;
    if (!dragging_) {
        dragging_ = true;
        // Where the window manager moves windows itself (and on Wayland, only it can), it
        // takes the drag over from here.
        if (windowHandle() && windowHandle()->startSystemMove()) {
            pressedAt_.reset();
            return;
        }
    }
    move(windowAtPress_ + moved);
}

void WidgetView::mouseReleaseEvent(QMouseEvent* event) {
    if (!pressedAt_ || event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
    pressedAt_.reset();
    if (!dragging_) {
        redraw();
        options_.openURL(tapURL_);
    }
}

void WidgetView::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    if (!placed_) return;
    QSettings settings(QString::fromStdString(options_.settingsPath), QSettings::IniFormat);
    settings.setValue(positionKey, pos());
}

void WidgetView::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* small = menu.addAction(QStringLiteral("Маленький"), this, [this] { setFamily(Family::small); });
    QAction* medium = menu.addAction(QStringLiteral("Средний"), this, [this] { setFamily(Family::medium); });
    small->setCheckable(true);
    medium->setCheckable(true);
    (family_ == Family::small ? small : medium)->setChecked(true);
    menu.addSeparator();
    menu.addAction(QStringLiteral("Закрыть виджет"), this, &QWidget::close);
    menu.exec(event->globalPos());
}

} // namespace orvex::widget

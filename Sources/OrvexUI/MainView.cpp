#include "MainView.h"

#include <QButtonGroup>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "AppModel.h"
#include "DevicesPanel.h"
#include "DiagnosticsPanel.h"
#include "HistoryPanel.h"
#include "HomePanel.h"
#include "Icons.h"
#include "ModelLines.h"
#include "Pieces.h"
#include "PromoPanel.h"
#include "ServerPanel.h"
#include "SettingsPanel.h"
#include "SupportPanel.h"
#include "Theme.h"
#include "Version.h"

namespace orvex {

namespace {

struct Entry {
    MainView::Panel panel;
    const char* title;
    const char* icon;
    const char* section; // the label over this row, when it starts a section
    const char* name;
};

const Entry entries[] = {
    {MainView::Panel::home, "Подключение", "power", nullptr, "homeRow"},
    {MainView::Panel::server, "Сервер", "globe", "Соединение", "serverRow"},
    {MainView::Panel::settings, "Настройки", "gear", nullptr, "settingsRow"},
    {MainView::Panel::diagnostics, "Диагностика", "waveform", "Инструменты", "diagnosticsRow"},
    {MainView::Panel::history, "История", "clock", nullptr, "historyRow"},
    {MainView::Panel::promo, "Промокод", "gift", nullptr, "promoRow"},
    {MainView::Panel::support, "Поддержка", "bubble", nullptr, "supportRow"},
    {MainView::Panel::devices, "Устройства", "laptop", "Аккаунт", "devicesRow"},
};

// Each panel scrolls on its own inside the same margins.
QScrollArea* scrolled(QWidget* panel) {
    auto* page = new QWidget;
    page->setProperty("role", "page");
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(32, 24, 32, 32);
    layout->addWidget(panel);
    auto* area = new QScrollArea;
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    area->setWidget(page);
    return area;
}

} // namespace

MainView::MainView(AppModel& model, QWidget* parent)
    : QWidget(parent), model_(model), panels_(new QStackedWidget), rows_(new QButtonGroup(this)) {
    setObjectName("mainView");
    setProperty("role", "page");
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(sidebar());

    auto* content = new QVBoxLayout;
    content->setContentsMargins(0, 0, 0, 0);
    content->setSpacing(0);
    auto* lines = new ModelLines(model_);
    auto* linesBox = new QVBoxLayout;
    linesBox->setContentsMargins(32, 16, 32, 0);
    linesBox->addWidget(lines);
    content->addLayout(linesBox);
    panels_->addWidget(scrolled(new HomePanel(model_)));
    panels_->addWidget(scrolled(new ServerPanel(model_)));
    panels_->addWidget(scrolled(new SettingsPanel(model_)));
    panels_->addWidget(scrolled(new DiagnosticsPanel(model_)));
    panels_->addWidget(scrolled(new HistoryPanel(model_)));
    panels_->addWidget(scrolled(new PromoPanel(model_)));
    panels_->addWidget(scrolled(new SupportPanel(model_)));
    panels_->addWidget(scrolled(new DevicesPanel(model_)));
    content->addWidget(panels_, 1);
    layout->addLayout(content, 1);
    select(Panel::home);
}

QWidget* MainView::sidebar() {
    auto* bar = new QFrame;
    bar->setObjectName("sidebar");
    bar->setProperty("role", "sidebar");
    bar->setFixedWidth(224);
    auto* layout = new QVBoxLayout(bar);
    layout->setContentsMargins(14, 20, 14, 16);
    layout->setSpacing(2);

    auto* brand = new QHBoxLayout;
    auto* mark = new QLabel;
    mark->setPixmap(Icons::named(QStringLiteral("shield-fill"), Theme::accent).pixmap(22, 22));
    brand->addWidget(mark);
    QLabel* name = Pieces::label(QStringLiteral("ORVEX"), "cardTitle");
    brand->addWidget(name, 1);
    layout->addLayout(brand);
    layout->addSpacing(14);

    for (const Entry& entry : entries) {
        if (entry.section != nullptr) {
            layout->addSpacing(12);
            QLabel* section = Pieces::sectionLabel(QString::fromUtf8(entry.section));
            section->setContentsMargins(12, 0, 0, 4);
            layout->addWidget(section);
        }
        auto* row = new QPushButton(QString::fromUtf8(entry.title));
        row->setObjectName(entry.name);
        row->setProperty("role", "nav");
        row->setCheckable(true);
        row->setCursor(Qt::PointingHandCursor);
        QIcon icon = Icons::named(QString::fromUtf8(entry.icon), Theme::onMed);
        icon.addPixmap(Icons::named(QString::fromUtf8(entry.icon), Theme::on).pixmap(14, 14), QIcon::Normal,
                       QIcon::On);
        row->setIcon(icon);
        row->setIconSize(QSize(14, 14));
        rows_->addButton(row, static_cast<int>(entry.panel));
        layout->addWidget(row);
    }
    QObject::connect(rows_, &QButtonGroup::idClicked, this,
                     [this](int id) { select(static_cast<Panel>(id)); });

    layout->addStretch();
    QPushButton* unlink = Pieces::linkButton(QStringLiteral("Отвязать устройство"), "unlinkButton");
    unlink->setIcon(Icons::named(QStringLiteral("sign-out"), Theme::accent2));
    unlink->setIconSize(QSize(14, 14));
    QObject::connect(unlink, &QPushButton::clicked, &model_, &AppModel::unlink);
    layout->addWidget(unlink, 0, Qt::AlignLeft);
    QLabel* version =
        Pieces::label(QStringLiteral("ORVEX %1").arg(QString::fromStdString(Version::current())), "tertiary");
    version->setObjectName("versionLabel");
    version->setStyleSheet(QStringLiteral("font-size: 11px;"));
    version->setContentsMargins(2, 4, 0, 0);
    layout->addWidget(version);
    return bar;
}

void MainView::select(Panel panel) {
    panel_ = panel;
    panels_->setCurrentIndex(static_cast<int>(panel));
    rows_->button(static_cast<int>(panel))->setChecked(true);
    switch (panel) {
    case Panel::history:
        model_.loadEvents();
        break;
    case Panel::support:
        model_.loadSupportMessages();
        break;
    case Panel::devices:
        model_.loadDevices();
        break;
    default:
        break;
    }
}

} // namespace orvex

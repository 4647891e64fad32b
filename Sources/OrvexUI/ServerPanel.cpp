#include "ServerPanel.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "AppModel.h"
#include "CooldownNotice.h"
#include "Icons.h"
#include "Pieces.h"
#include "Theme.h"

namespace orvex {

namespace {

constexpr int checkSize = 18;

QLabel* symbol(const QString& name, const QColor& colour, int size) {
    auto* label = new QLabel;
    label->setFixedSize(size, size);
    label->setPixmap(Icons::named(name, colour).pixmap(size, size));
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    return label;
}

} // namespace

ServerPanel::ServerPanel(AppModel& model, QWidget* parent)
    : QWidget(parent), model_(model), cooldown_(new CooldownNotice) {
    setObjectName("serverPanel");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(20);

    QPushButton* measure = Pieces::secondaryButton(QStringLiteral("Замерить пинг"), "measurePingsButton");
    layout->addWidget(Pieces::panelHeader(Pieces::panelTitle(QStringLiteral("Сервер")), {measure}));
    QObject::connect(measure, &QPushButton::clicked, &model_, &AppModel::measurePings);
    layout->addWidget(cooldown_);

    Pieces::Card card = Pieces::card(8);
    card.frame->setObjectName("serverList");
    card.layout->setSpacing(2);
    list_ = card.layout;
    layout->addWidget(card.frame);

    QLabel* footer = Pieces::label(QStringLiteral("Нажмите на другой сервер, чтобы переключиться. Если VPN "
                                                  "включён, соединение поднимется заново."),
                                   "secondary");
    footer->setContentsMargins(4, 0, 4, 0);
    layout->addWidget(footer);
    layout->addStretch();

    QObject::connect(&model_, &AppModel::serversChanged, this, &ServerPanel::refreshList);
    for (auto signal : {&AppModel::pingsChanged, &AppModel::subscriptionChanged, &AppModel::busyChanged})
        QObject::connect(&model_, signal, this, &ServerPanel::refreshRows);
    for (auto signal : {&AppModel::changeRetryAfterChanged, &AppModel::changeCooldownChanged})
        QObject::connect(&model_, signal, this, &ServerPanel::refreshCooldown);
    refreshList();
    refreshCooldown();
}

void ServerPanel::refreshList() {
    const ServerList& servers = model_.servers();
    bool same = servers.size() == rows_.size() && !servers.empty();
    for (size_t i = 0; same && i < servers.size(); ++i) same = servers[i] == rows_[i].server;
    if (same) return;

    Pieces::clear(list_);
    rows_.clear();
    if (servers.empty()) {
        list_->addWidget(Pieces::emptyLine(QStringLiteral("Загрузка…"), "serversLoading"));
        return;
    }
    for (const ServerItem& server : servers) {
        QString id = QString::number(server.id);
        QString name = QString::fromStdString(server.name);
        auto* button = new QPushButton;
        button->setObjectName(QStringLiteral("serverItem") + id);
        button->setProperty("role", "row");
        button->setCursor(Qt::PointingHandCursor);
        button->setAccessibleName(name);
        button->setMinimumHeight(52);
        auto* line = new QHBoxLayout(button);
        line->setContentsMargins(14, 6, 10, 6);
        line->setSpacing(12);
        line->addWidget(symbol(QStringLiteral("globe"), Theme::onMed, 18));
        QLabel* title = Pieces::label(name);
        title->setWordWrap(false);
        title->setAttribute(Qt::WA_TransparentForMouseEvents);
        line->addWidget(title, 1);
        QLabel* ping = Pieces::pingLabel();
        ping->setObjectName(QStringLiteral("serverPing") + id);
        ping->setAttribute(Qt::WA_TransparentForMouseEvents);
        line->addWidget(ping);
        auto* check = new QLabel;
        check->setObjectName(QStringLiteral("serverCheck") + id);
        check->setFixedSize(checkSize, checkSize);
        check->setAttribute(Qt::WA_TransparentForMouseEvents);
        line->addWidget(check);
        QObject::connect(button, &QPushButton::clicked, this,
                         [this, server] { model_.changeServer(server); });
        list_->addWidget(button);
        rows_.push_back({server, button, title, ping, check});
    }
    refreshRows();
}

void ServerPanel::refreshRows() {
    const OptionalSubscription& subscription = model_.subscription();
    std::optional<std::string> current = subscription ? subscription->serverName : std::nullopt;
    for (const Row& row : rows_) {
        auto found = model_.pings().find(row.server.id);
        Pieces::setPing(row.ping,
                        found == model_.pings().end() ? std::nullopt : std::optional<int>(found->second));
        bool inUse = current && *current == row.server.name;
        // The mark keeps its place when absent, so the echo times stay in one column.
        row.check->setPixmap(
            inUse
                ? Icons::named(QStringLiteral("check-semibold"), Theme::accent2).pixmap(checkSize, checkSize)
                : QPixmap());
        row.button->setStyleSheet(
            inUse ? QStringLiteral("QPushButton { background: %1; }").arg(Pieces::css(Theme::accentDim))
                  : QString());
        row.check->setAccessibleName(inUse ? QStringLiteral("Текущий сервер") : QString());
        row.name->setStyleSheet(QStringLiteral("font-size: 14px; font-weight: %1;").arg(inUse ? 600 : 500));
        row.button->setEnabled(!model_.busy());
    }
}

void ServerPanel::refreshCooldown() {
    cooldown_->setCooldown(model_.changeRetryAfter(), model_.changeCooldown());
}

} // namespace orvex

#include "SettingsPanel.h"

#include <QFrame>
#include <QLabel>
#include <QVBoxLayout>

#include "AppModel.h"
#include "LinkEmailCard.h"
#include "LinkTelegramCard.h"
#include "Pieces.h"
#include "Theme.h"
#include "Toggle.h"

namespace orvex {

namespace {

QFrame* named(QFrame* frame, const char* name) {
    frame->setObjectName(name);
    return frame;
}

Toggle* toggle(const QString& title, const char* name) {
    auto* toggle = new Toggle(title);
    toggle->setObjectName(name);
    return toggle;
}

} // namespace

SettingsPanel::SettingsPanel(AppModel& model, QWidget* parent)
    : QWidget(parent), model_(model), adBlock_(toggle(QStringLiteral("Блокировка рекламы"), "adBlockToggle")),
      killSwitch_(toggle(QStringLiteral("Блокировать трафик без VPN"), "killSwitchToggle")),
      autostart_(toggle(QStringLiteral("Запускать при входе в систему"), "autostartToggle")),
      serviceInstalled_(
          named(Pieces::accountStatusCard(QStringLiteral("Служба ORVEX"),
                                          QStringLiteral("Установлена. Туннель работает, даже когда "
                                                         "окно закрыто."),
                                          Theme::ok),
                "serviceInstalledCard")),
      serviceAbsent_(
          named(Pieces::accountStatusCard(QStringLiteral("Служба ORVEX"),
                                          QStringLiteral("Установится сама при первом подключении. "
                                                         "Система один раз попросит пароль администратора."),
                                          Theme::onLow),
                "serviceAbsentCard")),
      accountSection_(Pieces::sectionLabel(QStringLiteral("Аккаунт"))),
      telegramLinked_(
          named(Pieces::accountStatusCard(QStringLiteral("Telegram-бот"),
                                          QStringLiteral("Бот привязан: покупка подписки, промокоды и "
                                                         "поддержка работают."),
                                          Theme::ok),
                "telegramLinkedCard")),
      linkTelegram_(new LinkTelegramCard(model)),
      emailVerified_(
          named(Pieces::accountStatusCard(QStringLiteral("Вход по почте"),
                                          QStringLiteral("Почта привязана и подтверждена. В аккаунт можно "
                                                         "входить и без бота."),
                                          Theme::ok),
                "emailVerifiedCard")),
      emailUnverified_(
          named(Pieces::accountStatusCard(
                    QStringLiteral("Вход по почте"),
                    QStringLiteral("Почта привязана, но письмо ещё не подтверждено. Откройте ссылку из "
                                   "письма — после этого в аккаунт можно будет входить и без бота."),
                    Theme::warn),
                "emailUnverifiedCard")),
      linkEmail_(new LinkEmailCard(model)) {
    setObjectName("settingsPanel");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    layout->addWidget(Pieces::panelHeader(Pieces::panelTitle(QStringLiteral("Настройки")), {}));
    layout->addSpacing(8);

    layout->addWidget(Pieces::sectionLabel(QStringLiteral("Поведение")));
    Pieces::Card behaviour = Pieces::listCard("behaviourCard");
    const std::pair<Toggle*, QString> switches[] = {
        {adBlock_, QStringLiteral("Реклама и трекеры режутся на уровне DNS. Переключение переподключит VPN")},
        {killSwitch_, QStringLiteral("Сеть закрыта, если туннель не удалось восстановить")},
        {autostart_, QStringLiteral("Приложение появится в строке меню после входа")}};
    for (const auto& [toggle, text] : switches)
        Pieces::addDivided(behaviour.layout, Pieces::listRow(toggle->accessibleName(), text, toggle).widget);
    layout->addWidget(behaviour.frame);
    layout->addSpacing(12);

    layout->addWidget(Pieces::sectionLabel(QStringLiteral("Фоновая служба")));
    layout->addWidget(serviceInstalled_);
    layout->addWidget(serviceAbsent_);
    layout->addSpacing(12);

    layout->addWidget(accountSection_);
    for (QFrame* card : {telegramLinked_, static_cast<QFrame*>(linkTelegram_), emailVerified_,
                         emailUnverified_, static_cast<QFrame*>(linkEmail_)})
        layout->addWidget(card);
    layout->addStretch();

    QObject::connect(adBlock_, &Toggle::clicked, &model_, &AppModel::setAdBlock);
    QObject::connect(killSwitch_, &Toggle::clicked, &model_, &AppModel::setKillSwitch);
    QObject::connect(autostart_, &Toggle::clicked, &model_, &AppModel::setAutostart);
    // A switch flipped while another action ran was ignored by the model; the end of that
    // action puts it back where the model stands.
    for (auto signal : {&AppModel::statusChanged, &AppModel::autostartChanged, &AppModel::actionFinished})
        QObject::connect(&model_, signal, this, &SettingsPanel::refreshSwitches);
    QObject::connect(&model_, &AppModel::daemonInstalledChanged, this, &SettingsPanel::refreshService);
    QObject::connect(&model_, &AppModel::subscriptionChanged, this, &SettingsPanel::refreshAccount);
    refreshSwitches();
    refreshService();
    refreshAccount();
}

void SettingsPanel::refreshSwitches() {
    adBlock_->setChecked(model_.status().adBlockEnabled);
    killSwitch_->setChecked(model_.status().killSwitchEnabled);
    autostart_->setChecked(model_.autostart());
}

void SettingsPanel::refreshService() {
    serviceInstalled_->setVisible(model_.daemonInstalled());
    serviceAbsent_->setVisible(!model_.daemonInstalled());
}

void SettingsPanel::refreshAccount() {
    // Until the account is known nothing is offered, so that no form flashes up for a moment.
    const OptionalSubscription& account = model_.subscription();
    bool known = account.has_value();
    accountSection_->setVisible(known);
    telegramLinked_->setVisible(known && account->isTelegramLinked);
    linkTelegram_->setVisible(known && !account->isTelegramLinked);
    emailVerified_->setVisible(known && account->isEmailLinked && account->isEmailVerified);
    emailUnverified_->setVisible(known && account->isEmailLinked && !account->isEmailVerified);
    linkEmail_->setVisible(known && !account->isEmailLinked);
}

} // namespace orvex

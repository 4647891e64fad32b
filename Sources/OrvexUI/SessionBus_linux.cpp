#include "SessionBus.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QObject>

namespace orvex::SessionBus {

void send(const QDBusMessage& call, QObject& context, std::function<void(const std::string&)> failed) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    // A call on a missing bus is never answered, so it is refused here.
    if (!bus.isConnected()) {
        failed(bus.lastError().message().toStdString());
        return;
    }
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), &context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &context,
                     [failed = std::move(failed)](QDBusPendingCallWatcher* answer) {
                         if (answer->isError()) failed(answer->error().message().toStdString());
                         answer->deleteLater();
                     });
}

} // namespace orvex::SessionBus

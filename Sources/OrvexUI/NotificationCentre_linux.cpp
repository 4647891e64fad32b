#include "NotificationCentre.h"

#include "SessionBus.h"

#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace orvex {
namespace {

// The freedesktop notification service (org.freedesktop.Notifications) on the session bus.
// It plays its own default sound and asks nobody for permission. Post on the thread that
// made the centre: the answers come back there.
class FreedesktopNotificationCentre : public NotificationCentre {
public:
    void post(const std::string& title, const std::string& body, Failure failed) override {
        QDBusMessage call =
            QDBusMessage::createMethodCall("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                                           "org.freedesktop.Notifications", "Notify");
        // app_name, replaces_id (0: a new notification), app_icon, summary, body, actions,
        // hints, expire_timeout (-1: the server's default).
        call << QStringLiteral("ORVEX") << 0u << QString() << QString::fromStdString(title)
             << QString::fromStdString(body) << QStringList() << QVariantMap() << -1;
        SessionBus::send(call, calls_, [failed = std::move(failed)](const std::string& description) {
            if (failed) failed(description);
        });
    }

private:
    QObject calls_; // owns the calls in flight, so an answer after the centre's end reaches nobody
};

} // namespace

std::shared_ptr<NotificationCentre> NotificationCentre::system() {
    return std::make_shared<FreedesktopNotificationCentre>();
}

} // namespace orvex

// The freedesktop Notify call on a private session bus, and the failure while nobody serves it.
#include "NotificationCentre.h"

#include "ChildProcess.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <filesystem>
#include <gtest/gtest.h>
#include <mutex>

using namespace orvex;

namespace {

// Answers Notify like a desktop's notification server; messages arrive on the bus's own thread.
struct NotificationServer : QDBusVirtualObject {
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        std::lock_guard lock(mutex);
        calls.push_back(message);
        connection.send(message.createReply(QVariant::fromValue(7u)));
        return true;
    }
    std::mutex mutex;
    std::vector<QDBusMessage> calls;
};

} // namespace

TEST(NotificationCentre, PostsToTheSessionNotificationServiceAndReportsItsAbsence) {
    test::TempDir dir;
    std::string address = "unix:path=" + dir / "bus";
    auto bus = ChildProcess::spawn("/usr/bin/dbus-daemon", {"--session", "--nofork", "--address=" + address},
                                   {{}, {}, ChildProcess::Redirect::toFile(dir / "bus.log")});
    ASSERT_TRUE(test::waitUntil([&] { return std::filesystem::exists(dir / "bus"); }));
    test::ScopedEnv session("DBUS_SESSION_BUS_ADDRESS", address);
    int argc = 0;
    QCoreApplication app(argc, nullptr);
    auto centre = NotificationCentre::system();
    std::vector<std::string> failures; // answers come on this thread, through its event loop
    auto post = [&] {
        centre->post("Заголовок", "Текст", [&](const std::string& d) { failures.push_back(d); });
    };
    auto pumpUntil = [](const std::function<bool()>& condition) {
        return test::waitUntil([&] { return QCoreApplication::processEvents(), condition(); });
    };

    post(); // nobody serves notifications yet
    ASSERT_TRUE(pumpUntil([&] { return failures.size() == 1; }));
    EXPECT_NE(failures[0].find("org.freedesktop.Notifications"), std::string::npos) << failures[0];

    NotificationServer server;
    QDBusConnection serverBus = QDBusConnection::connectToBus(QString::fromStdString(address), "server");
    ASSERT_TRUE(serverBus.registerVirtualObject("/org/freedesktop/Notifications", &server));
    ASSERT_TRUE(serverBus.registerService("org.freedesktop.Notifications"));
    post();
    QDBusMessage call;
    ASSERT_TRUE(pumpUntil([&] {
        std::lock_guard lock(server.mutex);
        return !server.calls.empty() && (call = server.calls[0], true);
    }));
    EXPECT_EQ(call.interface() + "." + call.member() + " " + call.signature(),
              "org.freedesktop.Notifications.Notify susssasa{sv}i");
    QVariantList arguments = call.arguments();
    EXPECT_EQ(
        (QVariantList{arguments[0], arguments[1], arguments[2], arguments[3], arguments[4], arguments[7]}),
        (QVariantList{"ORVEX", 0u, "", "Заголовок", "Текст", -1}));
    serverBus.unregisterObject("/org/freedesktop/Notifications");
    QDBusConnection::disconnectFromBus("server");
}

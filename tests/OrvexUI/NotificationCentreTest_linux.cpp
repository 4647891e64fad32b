// The Notify call as a private session bus carries it, and the failure reported while nobody
// serves notifications there.
#include "NotificationCentre.h"

#include "ChildProcess.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <filesystem>
#include <gtest/gtest.h>

using namespace orvex;

TEST(NotificationCentre, PostsNotifyOnTheSessionBusAndReportsThatNobodyServesIt) {
    test::TempDir dir;
    std::string address = "unix:path=" + dir / "bus";
    auto bus = ChildProcess::spawn("/usr/bin/dbus-daemon", {"--session", "--nofork", "--address=" + address},
                                   {{}, {}, ChildProcess::Redirect::toFile(dir / "bus.log")});
    ASSERT_TRUE(test::waitUntil([&] { return std::filesystem::exists(dir / "bus"); }));
    auto monitor = ChildProcess::spawn("/usr/bin/dbus-monitor",
                                       {"--address", address, "interface='org.freedesktop.Notifications'"},
                                       {{}, ChildProcess::Redirect::toFile(dir / "calls"), {}});
    ASSERT_TRUE(
        test::waitUntil([&] { return test::readFile(dir / "calls").find("NameLost") != std::string::npos; }));
    test::ScopedEnv session("DBUS_SESSION_BUS_ADDRESS", address);
    int argc = 0;
    QCoreApplication app(argc, nullptr);
    auto centre = NotificationCentre::system();
    std::vector<std::string> failures; // answers come on this thread, through its event loop
    centre->post("Заголовок", "Текст",
                 [&](const std::string& description) { failures.push_back(description); });
    ASSERT_TRUE(test::waitUntil([&] { return QCoreApplication::processEvents(), failures.size() == 1; }));
    EXPECT_NE(failures[0].find("org.freedesktop.Notifications"), std::string::npos) << failures[0];
    // app_name, replaces_id (a new one), icon, summary, body, actions, hints, timeout (the server's).
    std::string calls = test::readFile(dir / "calls");
    EXPECT_NE(calls.find(
                  "member=Notify\n   string \"ORVEX\"\n   uint32 0\n   string \"\"\n   string \"Заголовок\"\n"
                  "   string \"Текст\"\n   array [\n   ]\n   array [\n   ]\n   int32 -1\n"),
              std::string::npos)
        << calls;
}

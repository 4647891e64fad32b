// What reaches the user as a notification, and what is remembered so that each comes once.
#include "Notifier.h"

#include "APITypes.h"
#include "Log.h"
#include "ModelFakes.h"

#include <gtest/gtest.h>

using namespace orvex;
using Notice = Notices::Notice;

namespace {

std::vector<NotificationItem> items(std::int64_t first, std::int64_t last) {
    std::vector<NotificationItem> out;
    for (auto id = first; id <= last; ++id) out.push_back({id, "info", "t" + std::to_string(id), "b", ""});
    return out;
}

// One support folder, centre and application log per test.
struct NotifierTest : testing::Test {
    test::TempDir dir;
    test::RecordingCentre centre;
    Log log{dir / "logs", "app"};
    std::string state = dir / "support/notices.json";
};

} // namespace

TEST_F(NotifierTest, QueueStartsAtTheServersPositionThenShowsTheNewestThree) {
    Notifier notifier(centre, log, state);
    EXPECT_EQ(notifier.queueSince(), -1);
    notifier.consumeQueue(items(101, 110), 110); // a fresh installation: old ones stay unseen
    EXPECT_TRUE(centre.posted.empty());

    notifier.consumeQueue(items(111, 115), 115);
    notifier.consumeQueue({}, 115);
    EXPECT_EQ(centre.posted, (std::vector<Notice>{{"t113", "b"}, {"t114", "b"}, {"t115", "b"}}));
    EXPECT_EQ(Notifier(centre, log, state).queueSince(), 115);
}

// Expiry reminders come at 3, 1 and 0 days left, once each per subscription end: a missed one
// is not caught up, and a day count or end missing decides nothing.
TEST_F(NotifierTest, RemindersAndUpdatesAreShownOnceAcrossRestarts) {
    {
        Notifier notifier(centre, log, state);
        notifier.noteUpdate("2.0");
        notifier.noteUpdate("2.0");
        notifier.noteExpiry(std::nullopt, "2030-01-02");
        notifier.noteExpiry(1, std::nullopt);
        for (int days : {5, 3, 2, 1, 1}) notifier.noteExpiry(days, "2030-01-02");
    }
    Notifier restarted(centre, log, state);
    restarted.noteUpdate("2.0");
    for (int days : {1, 0, 0}) restarted.noteExpiry(days, "2030-01-02");
    restarted.noteExpiry(-1, "2030-02-02");
    restarted.noteExpiry(1, "2030-02-02");
    restarted.noteUpdate("2.0.0"); // another version's text, however alike
    Notice soon{"Подписка ORVEX скоро закончится",
                "Осталось несколько дней. Продлить можно в Telegram-боте."};
    Notice tomorrow{"Подписка ORVEX заканчивается завтра",
                    "Продлите её в Telegram-боте, чтобы не потерять доступ."};
    EXPECT_EQ(centre.posted,
              (std::vector<Notice>{
                  {"Вышло обновление ORVEX", "Доступна версия 2.0. Откройте приложение, чтобы установить."},
                  soon,
                  tomorrow,
                  {"Подписка ORVEX заканчивается сегодня",
                   "Продлите её в Telegram-боте, иначе VPN перестанет подключаться."},
                  tomorrow,
                  {"Вышло обновление ORVEX", "Доступна версия 2.0.0. Откройте приложение, чтобы установить."},
              }));
}

TEST_F(NotifierTest, TunnelAlertsComeOnceWhenProtectionIsLost) {
    Notifier notifier(centre, log, state);
    // e: an error, h: an error under the kill switch's hold, -: fine. The hold's end while the
    // error goes on brings nothing new.
    for (char poll : std::string("eeehhe-e")) notifier.noteTunnel(poll != '-', poll == 'h');
    Notice unprotected{"Вы не защищены", "Не удалось восстановить подключение к VPN. Трафик идёт напрямую."};
    Notice blocked{"Трафик заблокирован",
                   "Соединение с VPN потеряно. Интернет отключён, чтобы трафик не ушёл в обход."};
    EXPECT_EQ(centre.posted, (std::vector<Notice>{unprotected, blocked, unprotected}));
}

TEST_F(NotifierTest, IgnoresABrokenStateFileAndLogsWhatFails) {
    // Each file remembers 2.0 as announced, but none is whole, so 2.0 is announced again.
    size_t announced = 0;
    for (const std::string broken : {R"({"expiry":{"expiresAt":""},"updateSeen":"2.0")",
                                     R"({"expiry":{"expiresAt":""},"updateSeen":"2.0"})",
                                     R"({"expiry":{"expiresAt":1},"queue":{},"updateSeen":"2.0"})"}) {
        test::writeFile(state, broken);
        Notifier(centre, log, state).noteUpdate("2.0");
        EXPECT_EQ(centre.posted.size(), ++announced) << broken;
    }

    // A regular file where the support folder should be: nothing can be saved, whoever runs.
    test::writeFile(dir / "blocker", "");
    centre.refusal = "служба уведомлений недоступна";
    centre.permission = {false, "запрещено пользователем"};
    log.setEnabled(true);
    Notifier notifier(centre, log, dir / "blocker/notices.json");
    notifier.noteUpdate("3.0");
    notifier.requestPermission();
    EXPECT_EQ(centre.posted.size(), announced + 1);
    log.flush();
    std::string written = test::readFile(log.filePath());
    for (const std::string& line :
         {"состояние уведомлений не сохранено: " + dir / "blocker/notices.json" + ": Not a directory",
          std::string("уведомление не показано (Вышло обновление ORVEX): служба уведомлений недоступна"),
          std::string("уведомления: разрешение не получено — запрещено пользователем")})
        EXPECT_NE(written.find("[app] " + line + "\n"), std::string::npos) << written;
}

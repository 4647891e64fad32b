// What the widget shows for a snapshot at a moment, with the moment fixed by the test: every
// rule, the 20 s and 300 s edges, and when the widget reads the file again.
#include "WidgetRules.h"

#include <gtest/gtest.h>

#include "WidgetTheme.h"

namespace orvex::widget {
namespace {

using namespace std::chrono_literals;

const TimePoint now = std::chrono::sys_days{std::chrono::year{2026} / 1 / 1};

Snapshot snap(const char* state, double age, bool blocked = false, std::optional<std::string> pending = {},
              std::optional<bool> alive = true) {
    return {state, "Нидерланды", blocked, secondsSince2001(now) - age, std::move(pending), alive};
}

TEST(WidgetRules, EachSnapshotShowsItsTitleSubtitleButtonDotAndLink) {
    struct Case {
        const char* what;
        Snapshot snapshot;
        std::string title;
        std::string subtitle;
        std::string button;
        QColor dot;
        bool buttonEnabled;
        std::string tap;
        std::chrono::seconds refresh;
    };
    Snapshot nameless = snap("error", 5);
    nameless.server.clear();
    Snapshot neverSaid = snap("connected", 5, true, {}, std::nullopt);
    Snapshot strange = snap("paused", 5);
    const std::string toggle = "orvexvpn://toggle", update = "orvexvpn://update";
    const Case cases[] = {
        {"protected", snap("connected", 5), "Защищено", "Нидерланды", "Отключить", WidgetTheme::ok(), true,
         toggle, 60s},
        {"connecting", snap("connecting", 5), "Подключение…", "Нидерланды", "Отключить", WidgetTheme::warn(),
         true, toggle, 60s},
        {"error, no server name: no subtitle line", nameless, "Ошибка", "", "Подключить",
         WidgetTheme::error(), true, toggle, 60s},
        {"disconnected", snap("disconnected", 5), "Отключено", "Нидерланды", "Подключить",
         WidgetTheme::onLow(), true, toggle, 60s},
        {"no file at all", Snapshot::unknown(), "Нет данных", "Откройте ORVEX", "Подключить",
         WidgetTheme::onLow(), true, toggle, 60s},
        {"a state this widget does not know", strange, "Нет данных", "Нидерланды", "Подключить",
         WidgetTheme::onLow(), true, toggle, 60s},

        {"disconnect pending for 5 s", snap("connected", 5, false, "disconnect"), "Отключение…", "Нидерланды",
         "Отключить", WidgetTheme::warn(), false, toggle, 20s},
        {"disconnect pending for just under 20 s", snap("connected", 19.999, false, "disconnect"),
         "Отключение…", "Нидерланды", "Отключить", WidgetTheme::warn(), false, toggle, 20s},
        {"a mark of exactly 20 s has expired", snap("connected", 20, false, "disconnect"), "Защищено",
         "Нидерланды", "Отключить", WidgetTheme::ok(), true, toggle, 20s},
        {"connect pending", snap("disconnected", 0, false, "connect"), "Подключение…", "Нидерланды",
         "Подключить", WidgetTheme::warn(), false, toggle, 20s},
        {"an unknown pending text keeps the state's title", snap("connected", 5, false, "sideways"),
         "Защищено", "Нидерланды", "Подключить", WidgetTheme::warn(), false, toggle, 20s},

        {"update required, alive never said", neverSaid, "Нужно обновление", "Откройте приложение",
         "Отключить", WidgetTheme::warn(), true, update, 60s},
        {"update required just under 300 s", snap("connected", 299.999, true), "Нужно обновление",
         "Откройте приложение", "Отключить", WidgetTheme::warn(), true, update, 60s},
        {"an update request of exactly 300 s has expired", snap("connected", 300, true), "Защищено",
         "Нидерланды", "Отключить", WidgetTheme::ok(), true, toggle, 60s},
        {"the application quit: never an update request", snap("disconnected", 1, true, {}, false),
         "Отключено", "Нидерланды", "Подключить", WidgetTheme::onLow(), true, toggle, 60s},
        {"an update request outranks a pending toggle", snap("disconnected", 1, true, "connect"),
         "Нужно обновление", "Откройте приложение", "Подключить", WidgetTheme::warn(), false, update, 20s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Snapshot& s = c.snapshot;
        EXPECT_EQ(WidgetRules::title(s, now), c.title);
        EXPECT_EQ(WidgetRules::subtitle(s, now), c.subtitle);
        EXPECT_EQ(WidgetRules::buttonTitle(s, now), c.button);
        EXPECT_EQ(WidgetRules::dotColour(s, now), c.dot);
        EXPECT_EQ(!WidgetRules::pendingActive(s, now), c.buttonEnabled);
        EXPECT_EQ(WidgetRules::tapURL(s, now), c.tap);
        EXPECT_EQ(WidgetRules::refreshAfter(s), c.refresh);
    }
}

} // namespace
} // namespace orvex::widget

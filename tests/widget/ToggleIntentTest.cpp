// The widget's button with time in the test's hands: each 0.1-s wait runs only when the test
// lets it, and links are recorded instead of opened.
#include "ToggleIntent.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <deque>
#include <filesystem>
#include <gtest/gtest.h>

#include "TestSupport.h"

namespace orvex::widget {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

struct Driver {
    TimePoint now = std::chrono::sys_days{std::chrono::year{2026} / 1 / 1};
    std::deque<std::pair<std::chrono::milliseconds, std::function<void()>>> waits;
    std::vector<std::string> opened;
    ToggleIntent intent{{
        .openURL = [this](const std::string& url) { opened.push_back(url); },
        .after = [this](std::chrono::milliseconds delay,
                        std::function<void()> step) { waits.emplace_back(delay, std::move(step)); },
        .now = [this] { return now; },
    }};

    // Lets the next wait end.
    void tick() {
        auto [delay, step] = std::move(waits.front());
        waits.pop_front();
        now += delay;
        step();
    }
};

TEST(ToggleIntent, LeavesACommandWaitsForTheApplicationAndFallsBackToTheLink) {
    struct Case {
        const char* what;
        bool folder;
        bool commandBlocked;              // a folder sits where the command file would go
        std::optional<int> appTakesAfter; // waits before the application deletes the command
        int waits;
        std::vector<std::string> opened;
    };
    const std::vector<std::string> link = {"orvexvpn://toggle"};
    const Case cases[] = {
        {"the application answers", true, false, 2, 3, {}},
        {"the application answers at the last check", true, false, 39, 40, {}},
        {"the application is silent", true, false, std::nullopt, 40, link},
        {"the application never ran here", false, false, std::nullopt, 0, link},
        {"the command cannot be written", true, true, std::nullopt, 0, link},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        test::ScopedEnv platform("ORVEX_PLATFORM", "linux");
        test::ScopedEnv state("XDG_STATE_HOME", dir / "state");
        const std::string folder = dir / "state/orvex/widget";
        const std::string command = folder + "/widget-command.json";
        if (c.folder) fs::create_directories(folder);
        if (c.commandBlocked) fs::create_directories(command + "/in-the-way");

        Driver driver;
        int finished = 0;
        driver.intent.perform([&] { ++finished; });
        if (c.waits > 0) {
            QJsonObject written =
                QJsonDocument::fromJson(QByteArray::fromStdString(test::readFile(command))).object();
            EXPECT_EQ(written.value("action").toString(), "toggle");
            EXPECT_EQ(written.value("id").toString().size(), 36);
            EXPECT_EQ(written.value("at").toDouble(), 1767225600.0);
        }
        int waits = 0;
        while (!driver.waits.empty()) {
            EXPECT_EQ(driver.opened.size(), 0u) << "never while waiting";
            driver.tick();
            if (++waits == c.appTakesAfter) fs::remove(command);
        }
        EXPECT_EQ(waits, c.waits);
        EXPECT_EQ(driver.now - std::chrono::sys_days{std::chrono::year{2026} / 1 / 1}, c.waits * 100ms);
        EXPECT_EQ(driver.opened, c.opened);
        EXPECT_EQ(finished, 1);
        EXPECT_EQ(fs::exists(folder), c.folder) << "nothing made where the application never ran";
        if (!c.folder) continue;
        for (const auto& entry : fs::directory_iterator(folder))
            EXPECT_TRUE(c.commandBlocked && entry.path() == command)
                << entry.path() << ": no command and no temporary file is left behind";
    }
}

} // namespace
} // namespace orvex::widget

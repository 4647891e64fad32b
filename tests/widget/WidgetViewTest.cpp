// The widget's window offscreen on a scratch shared folder, with a clock the test sets.
#include "WidgetView.h"

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <filesystem>
#include <gtest/gtest.h>

#include "TestSupport.h"

namespace orvex::widget {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Polls `condition` with the event loop running in between, until it holds or `limit` passes.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = 10s) {
    return test::waitUntil(
        [&] { return QCoreApplication::processEvents(QEventLoop::AllEvents, 5), condition(); }, limit);
}

// A status file as the application writes it, `age` seconds old at `now`.
std::string statusFile(const std::string& state, const std::string& server, TimePoint now, double age,
                       bool blocked = false, const std::string& pending = "") {
    return R"({"state":")" + state + R"(","server":")" + server + R"(","blocked":)" +
           (blocked ? "true" : "false") + R"(,"updated":)" + std::to_string(secondsSince2001(now) - age) +
           (pending.empty() ? "" : R"(,"pending":")" + pending + "\"") + R"(,"alive":true})";
}

class WidgetViewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "widget-tests";
        static char* argv[] = {name, nullptr};
        qputenv("QT_QPA_PLATFORM", "offscreen");
        new QApplication(argc, argv);
    }

    std::unique_ptr<WidgetView> open(std::optional<WidgetView::Family> family = {}) {
        auto view = std::make_unique<WidgetView>(WidgetView::Options{
            .openURL = [this](const std::string& url) { opened.push_back(url); },
            .now = [this] { return now; },
            .settingsPath = dir / "config/widget.ini",
            .family = family,
        });
        view->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(view.get()));
        return view;
    }
    void writeStatus(const std::string& contents) {
        test::writeFile(folder + "/widget-status.json", contents);
    }
    // Not a check: a picture for a person to look at, at twice the pixels as a sharp screen shows it.
    void shot(WidgetView& view, const std::string& name) {
        fs::create_directories(ORVEX_WIDGET_SHOTS);
        QImage image(view.size() * 2, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(2);
        image.fill(Qt::transparent);
        view.render(&image);
        EXPECT_TRUE(image.save(QString::fromStdString(ORVEX_WIDGET_SHOTS "/" + name + ".png")));
    }

    test::TempDir dir;
    test::ScopedEnv platform{"ORVEX_PLATFORM", "linux"};
    test::ScopedEnv state{"XDG_STATE_HOME", dir / "state"};
    const std::string folder = dir / "state/orvex/widget";
    test::ScopedEnv data{"XDG_DATA_HOME", dir / "data"};
    TimePoint now = std::chrono::sys_days{std::chrono::year{2026} / 1 / 1};
    std::vector<std::string> opened;
};

TEST_F(WidgetViewTest, FollowsTheFileAndLeadsEachPressToItsLink) {
    auto view = open(WidgetView::Family::medium);
    auto* title = view->findChild<QLabel*>("title");
    auto* toggle = view->findChild<QPushButton*>("toggleButton");
    auto* update = view->findChild<QPushButton*>("updateButton");
    EXPECT_EQ(title->text(), "Нет данных");
    shot(*view, "no-data-medium");
    QTest::mouseClick(view.get(), Qt::LeftButton, {}, QPoint(6, 6));
    EXPECT_EQ(opened, std::vector<std::string>{"orvexvpn://toggle"}) << "a press on the body";

    writeStatus(statusFile("connected", "Нидерланды", now, 10, true));
    ASSERT_TRUE(eventually([&] { return update->isVisible(); })) << "the folder's watch saw the new file";
    EXPECT_FALSE(toggle->isVisible());
    shot(*view, "update-required-medium");
    QTest::mouseClick(update, Qt::LeftButton);
    QTest::mouseClick(view.get(), Qt::LeftButton, {}, QPoint(6, 6));
    EXPECT_EQ(opened,
              (std::vector<std::string>{"orvexvpn://toggle", "orvexvpn://update", "orvexvpn://update"}));

    writeStatus(statusFile("connected", "Нидерланды", now, 0, false, "disconnect"));
    ASSERT_TRUE(eventually([&] { return toggle->isVisible() && !toggle->isEnabled(); }));
    shot(*view, "disconnecting-medium");
    now += 20s;
    view->reload();
    EXPECT_TRUE(toggle->isEnabled()) << "the pending mark expires with the file's age alone";
}

TEST_F(WidgetViewTest, KeepsItsSizeAndPlaceAndMovesByDragging) {
    QPoint place;
    {
        auto view = open();
        view->setFamily(WidgetView::Family::medium);
        EXPECT_EQ(view->size(), QSize(338, 158));
        QPoint before = view->pos();
        QTest::mousePress(view.get(), Qt::LeftButton, {}, QPoint(6, 6));
        QTest::mouseMove(view.get(), QPoint(66, 46));
        QTest::mouseRelease(view.get(), Qt::LeftButton, {}, QPoint(66, 46));
        place = view->pos();
        EXPECT_EQ(place - before, QPoint(60, 40));
        EXPECT_TRUE(opened.empty()) << "a drag is no press";
    }
    auto again = open();
    EXPECT_EQ(again->family(), WidgetView::Family::medium);
    EXPECT_EQ(again->pos(), place);
    again.reset();
    EXPECT_EQ(open(WidgetView::Family::small)->size(), QSize(158, 158)) << "the command line's choice wins";
    EXPECT_EQ(open()->size(), QSize(158, 158)) << "and is remembered";
}

} // namespace
} // namespace orvex::widget

// Start at login: the Linux autostart entry in a scratch XDG_CONFIG_HOME, and the macOS
// agent's bytes.
#include "Autostart.h"

#include <filesystem>
#include <gtest/gtest.h>

#include "DesktopEntry.h"
#include "Paths.h"
#include "TestSupport.h"

namespace orvex {
namespace {

TEST(Autostart, TheMacAgentOpensTheBundleAtLogin) {
    EXPECT_EQ(Autostart::agentPlist("/Applications/ORVEX.app"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
              "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
              "<plist version=\"1.0\">\n"
              "<dict>\n"
              "\t<key>Label</key>\n"
              "\t<string>net.orvex.app</string>\n"
              "\t<key>ProgramArguments</key>\n"
              "\t<array>\n"
              "\t\t<string>/usr/bin/open</string>\n"
              "\t\t<string>-a</string>\n"
              "\t\t<string>/Applications/ORVEX.app</string>\n"
              "\t</array>\n"
              "\t<key>RunAtLoad</key>\n"
              "\t<true/>\n"
              "</dict>\n"
              "</plist>\n");
}

TEST(Autostart, TheLinuxEntryIsOnWhileItExistsUnhidden) {
    test::TempDir dir;
    test::ScopedEnv config("XDG_CONFIG_HOME", dir / "config");
    EXPECT_EQ(Autostart::Xdg::entryPath(), dir / "config/autostart/net.orvex.app.desktop");
    EXPECT_FALSE(Autostart::Xdg::isEnabled());

    EXPECT_EQ(Autostart::Xdg::setEnabled(true), std::nullopt);
    EXPECT_TRUE(Autostart::Xdg::isEnabled());
    std::string entry = test::readFile(Autostart::Xdg::entryPath());
    EXPECT_NE(entry.find("Exec=" + DesktopEntry::execWord(Paths::executable()) + "\n"), std::string::npos)
        << entry;
    const std::string widgetEntry = dir / "config/autostart/net.orvex.widget.desktop";
    std::string widgetProgram = std::filesystem::path(Paths::executable()).replace_filename("orvex-widget");
    EXPECT_NE(test::readFile(widgetEntry).find("Exec=" + DesktopEntry::execWord(widgetProgram) + "\n"),
              std::string::npos)
        << "the widget starts with the application";

    test::writeFile(Autostart::Xdg::entryPath(), entry + "Hidden=true\n");
    EXPECT_FALSE(Autostart::Xdg::isEnabled()) << "the desktop's settings hide an entry this way";
    EXPECT_EQ(Autostart::Xdg::setEnabled(false), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(Autostart::Xdg::entryPath()));
    EXPECT_FALSE(std::filesystem::exists(widgetEntry));

    // A file where the folder should be: even root cannot write through it.
    std::filesystem::remove_all(dir / "config/autostart");
    test::writeFile(dir / "config/autostart", "in the way");
    std::optional<std::string> failure = Autostart::Xdg::setEnabled(true);
    ASSERT_TRUE(failure.has_value());
    EXPECT_TRUE(failure->starts_with("Не удалось включить автозапуск: ")) << *failure;
    EXPECT_FALSE(Autostart::Xdg::isEnabled());
}

TEST(DesktopEntry, ExecWordsSurviveBothLevelsOfEscaping) {
    EXPECT_EQ(DesktopEntry::execWord("/opt/orvex/orvex"), "\"/opt/orvex/orvex\"");
    EXPECT_EQ(DesktopEntry::execWord("/a b/$x\"y`z\\w"), "\"/a b/\\\\$x\\\\\"y\\\\`z\\\\\\\\w\"");
}

} // namespace
} // namespace orvex

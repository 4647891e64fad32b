// Start at login: the Linux autostart entry in a scratch XDG_CONFIG_HOME, and the macOS
// agent's launch arguments.
#include "Autostart.h"

#include <filesystem>
#include <gtest/gtest.h>

#include "DesktopEntry.h"
#include "Paths.h"
#include "TestSupport.h"

namespace orvex {
namespace {

TEST(Autostart, TheMacAgentOpensTheBundleAtLogin) {
    std::string agent = Autostart::agentPlist("/Applications/ORVEX.app");
    for (const char* piece : {"<key>Label</key>\n\t<string>net.orvex.app</string>\n",
                              "<array>\n\t\t<string>/usr/bin/open</string>\n\t\t<string>-a</string>\n"
                              "\t\t<string>/Applications/ORVEX.app</string>\n\t</array>\n",
                              "<key>RunAtLoad</key>\n\t<true/>\n</dict>\n</plist>\n"})
        EXPECT_NE(agent.find(piece), std::string::npos) << agent;
}

TEST(Autostart, TheLinuxEntryIsOnWhileItExistsUnhidden) {
    test::TempDir dir;
    test::ScopedEnv config("XDG_CONFIG_HOME", dir / "config");
    const std::string entry = dir / "config/autostart/net.orvex.app.desktop";
    const std::string widgetEntry = dir / "config/autostart/net.orvex.widget.desktop";
    EXPECT_EQ(Autostart::Xdg::entryPath(), entry);
    EXPECT_FALSE(Autostart::Xdg::isEnabled());

    EXPECT_EQ(Autostart::Xdg::setEnabled(true), std::nullopt);
    EXPECT_TRUE(Autostart::Xdg::isEnabled());
    std::string widgetProgram = std::filesystem::path(Paths::executable()).replace_filename("orvex-widget");
    for (auto [file, program] : {std::pair{entry, Paths::executable()}, {widgetEntry, widgetProgram}})
        EXPECT_NE(test::readFile(file).find("Exec=" + DesktopEntry::execWord(program) + "\n"),
                  std::string::npos)
            << file << " (the widget starts with the application)";

    test::writeFile(entry, test::readFile(entry) + "Hidden=true\n");
    EXPECT_FALSE(Autostart::Xdg::isEnabled()) << "the desktop's settings hide an entry this way";
    EXPECT_EQ(Autostart::Xdg::setEnabled(false), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(entry) || std::filesystem::exists(widgetEntry));

    // A file where the folder should be: even root cannot write through it.
    std::filesystem::remove_all(dir / "config/autostart");
    test::writeFile(dir / "config/autostart", "in the way");
    EXPECT_TRUE(
        Autostart::Xdg::setEnabled(true).value_or("").starts_with("Не удалось включить автозапуск: "));
    EXPECT_FALSE(Autostart::Xdg::isEnabled());
}

TEST(DesktopEntry, ExecWordsSurviveBothLevelsOfEscaping) {
    EXPECT_EQ(DesktopEntry::execWord("/opt/orvex/orvex"), "\"/opt/orvex/orvex\"");
    EXPECT_EQ(DesktopEntry::execWord("/a b/$x\"y`z\\w"), "\"/a b/\\\\$x\\\\\"y\\\\`z\\\\\\\\w\"");
}

} // namespace
} // namespace orvex

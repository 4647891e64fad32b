#include "Elevation.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <system_error>

#include "ElevationError.h"
#include "Paths.h"
#include "TestSupport.h"

using namespace orvex;
namespace fs = std::filesystem;

namespace {

// A relocated system with the fake scripting host and the fake pkexec in /usr/bin.
class ElevationTest : public ::testing::Test {
protected:
    ElevationTest()
        : relocation_("ORVEX_ROOT", root.path()), record_("FAKE_OSASCRIPT_RECORD", root / "command") {
        fs::create_directories(root / "usr/bin");
        for (const char* tool : {"osascript", "pkexec"}) {
            fs::copy_file(test::fixture(tool), root / ("usr/bin/" + std::string(tool)));
            fs::permissions(root / ("usr/bin/" + std::string(tool)),
                            fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
        }
    }

    std::string received() const { return test::readFile(root / "command"); }

    ElevationError::Case failureOf(const std::string& command, std::string& text) {
        try {
            Elevation::run(command);
        } catch (const ElevationError& error) {
            text = error.what();
            return error.which();
        }
        ADD_FAILURE() << "no failure for: " << command;
        return ElevationError::Case::failed;
    }

    test::TempDir root;

private:
    test::ScopedEnv relocation_;
    test::ScopedEnv record_;
};

} // namespace

TEST_F(ElevationTest, CommandReachesTheAdministratorShellUnchanged) {
    const std::string payload = "he said \"hi\" \\ back\\\\slash 'single' two  blanks $HOME `x`";
    const std::string command =
        "printf '%s' " + Elevation::shellQuoted(payload) + " > " + Elevation::shellQuoted(root / "out");
    Elevation::run(command);
    EXPECT_EQ(received(), command);
    EXPECT_EQ(test::readFile(root / "out"), payload);

    // A program whose path holds a blank and a single quote stays one word.
    std::string program = root / "it's a dir/prog";
    test::writeFile(program, "#!/bin/sh\nprintf '%s:%s' \"$#\" \"$1\" > \"$(dirname \"$0\")/args\"\n", 0755);
    Elevation::run(Elevation::shellQuoted(program) + " " + Elevation::shellQuoted("-install-service"));
    EXPECT_EQ(test::readFile(root / "it's a dir/args"), "1:-install-service");

    // runSelf runs this very test program, with its one argument quoted.
    Elevation::runSelf("--gtest_list_tests");
    EXPECT_EQ(received(), Elevation::shellQuoted(Paths::executable()) + " '--gtest_list_tests'");
}

TEST_F(ElevationTest, CancellationAndFailures) {
    std::string text;
    {
        test::ScopedEnv mode("FAKE_OSASCRIPT", "cancel");
        EXPECT_EQ(failureOf("true", text), ElevationError::Case::cancelled);
        EXPECT_EQ(text, "Установка отменена");
    }

    EXPECT_EQ(failureOf("echo 'Не удалось загрузить службу' >&2; exit 1", text),
              ElevationError::Case::failed);
    EXPECT_EQ(text, "execution error: Не удалось загрузить службу (1)");

    // The cancellation markers count anywhere in the output, in any letter case.
    EXPECT_EQ(failureOf("echo 'status -128 somewhere'; exit 2", text), ElevationError::Case::cancelled);
    EXPECT_EQ(failureOf("echo 'USER Canceled it'; exit 2", text), ElevationError::Case::cancelled);

    // No words (or no readable ones) from the administrator shell: the fixed text.
    {
        test::ScopedEnv mode("FAKE_OSASCRIPT", "silent");
        EXPECT_EQ(failureOf("true", text), ElevationError::Case::failed);
        EXPECT_EQ(text, "не удалось выполнить с правами администратора");
    }
    EXPECT_EQ(failureOf("printf '\\377'; exit 1", text), ElevationError::Case::failed);
    EXPECT_EQ(text, "не удалось выполнить с правами администратора");

    // Without the scripting host the platform's own error comes through.
    fs::remove(root / "usr/bin/osascript");
    try {
        Elevation::run("true");
        FAIL() << "ran without osascript";
    } catch (const ElevationError&) {
        FAIL() << "a missing scripting host is not the command's failure";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), std::errc::no_such_file_or_directory);
    }
}

// pkexec runs the program itself; a shell command goes through /bin/sh. Its statuses for a
// dismissed or refused prompt are the cancellation the user sees on macOS too.
TEST_F(ElevationTest, TheLinuxPersonalityAsksPkexec) {
    test::ScopedEnv personality("ORVEX_PLATFORM", "linux");
    test::ScopedEnv record("FAKE_PKEXEC_RECORD", root / "pkexec-args");
    Elevation::runSelf("--gtest_list_tests");
    EXPECT_EQ(test::readFile(root / "pkexec-args"), Paths::executable() + "\n--gtest_list_tests\n");

    const std::string command = "printf '%s' \"two  words\" > " + Elevation::shellQuoted(root / "out");
    Elevation::run(command);
    EXPECT_EQ(test::readFile(root / "pkexec-args"), "/bin/sh\n-c\n" + command + "\n");
    EXPECT_EQ(test::readFile(root / "out"), "two  words");

    std::string text;
    for (const char* answer : {"dismiss", "refuse"}) {
        test::ScopedEnv mode("FAKE_PKEXEC", answer);
        EXPECT_EQ(failureOf("true", text), ElevationError::Case::cancelled) << answer;
    }
    EXPECT_EQ(failureOf("echo 'нет места на диске' >&2; exit 3", text), ElevationError::Case::failed);
    EXPECT_EQ(text, "нет места на диске");
    EXPECT_EQ(failureOf("exit 3", text), ElevationError::Case::failed);
}

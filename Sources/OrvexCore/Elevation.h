#pragma once

#include <string>
#include <string_view>

// Runs one shell command as the administrator behind the system's own password prompt: on
// macOS through the scripting host's "do shell script ... with administrator privileges", on
// Linux through pkexec. There is no time limit, since the user may leave the prompt open;
// call it off the interface thread.
namespace orvex::Elevation {

// Throws ElevationError when the user cancels or the command fails, and std::system_error
// when the elevation tool cannot be started at all.
void run(const std::string& command);

// Runs `program` with exactly one argument as the administrator, as run() does.
void runProgram(const std::string& program, const std::string& argument);

// runProgram() with this program's own executable.
void runSelf(const std::string& argument);

// `text` as one word for the POSIX shell: in single quotes, each inner single quote written
// as '\''.
std::string shellQuoted(std::string_view text);

} // namespace orvex::Elevation

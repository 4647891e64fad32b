#include "Elevation.h"

#include "ChildProcess.h"
#include "ElevationError.h"
#include "Io.h"
#include "Paths.h"
#include "Pipe.h"
#include "Platform.h"
#include "Text.h"

namespace orvex::Elevation {
namespace {

// pkexec's statuses for a dismissed prompt and for authentication that did not succeed.
constexpr int pkexecDismissed = 126;
constexpr int pkexecNotAuthorised = 127;

struct HostRun {
    int status = 0;
    std::string text; // both output streams, trimmed; empty when they were not UTF-8
};

// Runs the elevation tool to its end with one pipe for both of its output streams.
HostRun runHost(const std::string& program, const std::vector<std::string>& arguments) {
    Pipe pipe = Pipe::create();
    ChildProcess::Options options;
    options.output = ChildProcess::Redirect::toDescriptor(pipe.writeEnd.get());
    options.error = ChildProcess::Redirect::toDescriptor(pipe.writeEnd.get());
    ChildProcess host = ChildProcess::spawn(program, arguments, options);
    pipe.writeEnd.reset();
    std::string bytes = Io::readToEnd(pipe.readEnd.get());
    int status = host.wait();
    return {status, Text::trim(Text::utf8OrEmpty(std::move(bytes)))};
}

ElevationError failure(const std::string& text) {
    return ElevationError::failed(text.empty() ? "не удалось выполнить с правами администратора" : text);
}

// Backslashes first, so the ones added for the quotes are not doubled again.
std::string appleScriptEscaped(std::string_view command) {
    std::string out;
    out.reserve(command.size() + 8);
    for (char c : command) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out;
}

// The scripting host reports a dismissed password prompt as error -128, "User canceled.".
bool isCancellation(const std::string& text) {
    return text.find("-128") != std::string::npos ||
           Text::asciiLower(text).find("user canceled") != std::string::npos;
}

void runWithOsascript(const std::string& command) {
    std::string script =
        "do shell script \"" + appleScriptEscaped(command) + "\" with administrator privileges";
    HostRun run = runHost(Paths::relocate("/usr/bin/osascript"), {"-e", script});
    if (run.status == 0) return;
    if (isCancellation(run.text)) throw ElevationError::cancelled();
    throw failure(run.text);
}

// pkexec runs the program itself, as root, with the arguments it is given.
void runWithPkexec(const std::vector<std::string>& arguments) {
    HostRun run = runHost(Paths::relocate("/usr/bin/pkexec"), arguments);
    if (run.status == 0) return;
    if (run.status == pkexecDismissed || run.status == pkexecNotAuthorised) throw ElevationError::cancelled();
    throw failure(run.text);
}

} // namespace

void run(const std::string& command) {
    if (Platform::current().elevation == Platform::ElevationTool::pkexec)
        runWithPkexec({"/bin/sh", "-c", command});
    else
        runWithOsascript(command);
}

void runProgram(const std::string& program, const std::string& argument) {
    if (Platform::current().elevation == Platform::ElevationTool::pkexec)
        runWithPkexec({program, argument});
    else
        run(shellQuoted(program) + " " + shellQuoted(argument));
}

void runSelf(const std::string& argument) { runProgram(Paths::executable(), argument); }

std::string shellQuoted(std::string_view text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    out += "'";
    return out;
}

} // namespace orvex::Elevation

#include "Elevation.h"

#include "ChildProcess.h"
#include "ElevationError.h"
#include "Io.h"
#include "Paths.h"
#include "Pipe.h"
#include "Text.h"

namespace orvex::Elevation {
namespace {

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

} // namespace

void run(const std::string& command) {
    std::string script =
        "do shell script \"" + appleScriptEscaped(command) + "\" with administrator privileges";
    Pipe pipe = Pipe::create();
    ChildProcess::Options options;
    options.output = ChildProcess::Redirect::toDescriptor(pipe.writeEnd.get());
    options.error = ChildProcess::Redirect::toDescriptor(pipe.writeEnd.get());
    ChildProcess host = ChildProcess::spawn(Paths::relocate("/usr/bin/osascript"), {"-e", script}, options);
    pipe.writeEnd.reset();
    std::string bytes = Io::readToEnd(pipe.readEnd.get());
    if (host.wait() == 0) return;

    std::string text = Text::trim(Text::utf8OrEmpty(std::move(bytes)));
    if (isCancellation(text)) throw ElevationError::cancelled();
    throw ElevationError::failed(text.empty() ? "не удалось выполнить с правами администратора" : text);
}

void runSelf(const std::string& argument) {
    run(shellQuoted(Paths::executable()) + " " + shellQuoted(argument));
}

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

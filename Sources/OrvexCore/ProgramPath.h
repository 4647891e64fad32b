#pragma once

#include <string>

// The platform's own idea of the running executable (/proc/self/exe, _NSGetExecutablePath),
// so the path stays right when the program was started by name through PATH.
namespace orvex::ProgramPath {

// Absolute, symbolic links resolved. Aborts when the platform cannot say: nothing sensible
// can run without knowing where the engine files are.
std::string current();

} // namespace orvex::ProgramPath

#pragma once

// The desktop application: one running instance per user, one delegate for the whole run.
// Returns the exit status when the application ends.
namespace orvex {

int runApp(int argc, char** argv);

} // namespace orvex

#pragma once

#include <spawn.h>

// What one platform adds to every posix_spawn of ChildProcess.
namespace orvex::SpawnPlatform {

// Extra posix_spawn flags.
short extraFlags();

// Called for each standard stream (0, 1, 2) that no redirection replaces, so it still
// reaches the child. Returns 0 or an error number.
int keepStandardStream(posix_spawn_file_actions_t* actions, int fd);

// Called after the redirections: makes sure no descriptor from `from` up reaches the child
// unless a redirection named it, also descriptors we inherited ourselves without
// close-on-exec. Returns 0 or an error number.
int closeTheRest(posix_spawn_file_actions_t* actions, int from);

} // namespace orvex::SpawnPlatform

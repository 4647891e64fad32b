#include "SpawnPlatform.h"

#include <unistd.h>

namespace orvex::SpawnPlatform {

// Every descriptor of ours is opened close-on-exec (pipe2, O_CLOEXEC); closeTheRest covers
// what the process was handed by whoever started it.
short extraFlags() { return 0; }

int keepStandardStream(posix_spawn_file_actions_t*, int) { return 0; }

int closeTheRest(posix_spawn_file_actions_t* actions, int from) {
    return posix_spawn_file_actions_addclosefrom_np(actions, from);
}

} // namespace orvex::SpawnPlatform

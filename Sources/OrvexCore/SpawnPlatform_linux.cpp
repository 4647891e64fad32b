#include "SpawnPlatform.h"

namespace orvex::SpawnPlatform {

// Every descriptor of ours is opened close-on-exec (pipe2, O_CLOEXEC), so the child inherits
// only what the file actions hand it plus the standard streams, without extra flags.
short extraFlags() { return 0; }

int keepStandardStream(posix_spawn_file_actions_t*, int) { return 0; }

} // namespace orvex::SpawnPlatform

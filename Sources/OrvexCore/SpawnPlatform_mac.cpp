#include "SpawnPlatform.h"

namespace orvex::SpawnPlatform {

// Without pipe2, a pipe is briefly inheritable; starting every child with only the
// descriptors named in its file actions closes that gap for good.
short extraFlags() { return POSIX_SPAWN_CLOEXEC_DEFAULT; }

int keepStandardStream(posix_spawn_file_actions_t* actions, int fd) {
    return posix_spawn_file_actions_addinherit_np(actions, fd);
}

// POSIX_SPAWN_CLOEXEC_DEFAULT already closes everything not named.
int closeTheRest(posix_spawn_file_actions_t*, int) { return 0; }

} // namespace orvex::SpawnPlatform

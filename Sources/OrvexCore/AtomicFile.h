#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>

// Files that must never be seen half-written, neither by a reader nor after a crash.
namespace orvex::AtomicFile {

// Replaces `path` with `bytes`: a temporary file in the same folder, created with `mode`
// from the start (so a private file is never readable by others, not even briefly), flushed
// to disk and renamed over the old one, then the folder flushed so the rename survives a
// power cut. False on any failure; the temporary file is removed and the old file stays.
bool write(const std::string& path, std::string_view bytes, mode_t mode = 0644);

} // namespace orvex::AtomicFile

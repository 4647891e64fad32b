#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Files exchanged with support. A file name from the server is outside input: the file it
// names is saved only as a new file inside the chosen folder, never over anything and never
// through a link. Every function may block; call them from workers.
namespace orvex::SupportFiles {

// The longest file name the file systems ORVEX runs on accept, in bytes.
inline constexpr size_t maxNameBytes = 255;

// The user's downloads folder as the desktop reports it, else the temporary folder.
std::string downloadsFolder();

// The name the file of message `id` is saved under: "/" and ":" become "_", control
// characters go, and an empty name, "." or ".." becomes "file-<id>".
std::string fileName(const std::optional<std::string>& serverName, std::int64_t id);

// `name` for copy `copy`: the name itself for copy 1, else with " <copy>" before its
// extension; cut to maxNameBytes at a character boundary, the extension kept.
std::string numbered(const std::string& name, int copy);

// The first of `path` and its copies 2 to 99 at which nothing exists, a dangling link
// counting as something; `path` itself when every one is taken.
std::string freePath(const std::string& path);

// Writes `data` to a new file at freePath(path), created exclusively without following a
// link; a name taken in the meantime moves on to the next free one. Returns the path
// written. Throws std::system_error, also when every copy's name is taken.
std::string saveNew(const std::string& path, std::string_view data);

// The file at `path` for an attachment, refused by its size before it is read (the
// APIError of APIClient::checkAttachmentSize). Throws std::system_error when unreadable.
std::string readAttachment(const std::string& path);

} // namespace orvex::SupportFiles

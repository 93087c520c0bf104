// Files written for the user (requests, keys, PFX and SPC files, products, downloads): the
// bytes go to a hidden file beside the destination, which is renamed over it only when
// complete, so a failed write never leaves a half-written file where the user's file was.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace corvane {

// Owner-only permissions, for private keys and PFX files.
inline constexpr mode_t kPrivateFileMode = 0600;
inline constexpr mode_t kPublicFileMode = 0644;

// The permission bits a freshly created file gets from this process (0666 less the umask).
mode_t NewFileMode();

// True when `path` holds exactly `bytes` with `mode`; false (and nothing changed) otherwise.
bool PublishFile(const std::string& path, std::string_view bytes, mode_t mode);

// The same with the contents of the file `source`.
bool PublishCopy(const std::string& source, const std::string& path, mode_t mode);

// "." + `name` + `suffix`, the name cut (at a character boundary) so that the whole stays
// within the 255-byte limit of a file name.
std::string HiddenSiblingName(const std::string& name, std::string_view suffix);

// Writes all of `bytes` to `fd`; false when a write fails.
bool WriteAll(int fd, std::string_view bytes);

// Copies all of `in` into the empty `out`, in the kernel where it can (no trip through user
// memory), else through a buffer. False when a read or write fails.
bool CopyContents(int in, int out);

}  // namespace corvane

// Files the tools write for the user (requests, keys, PFX and SPC files): the bytes go to a
// hidden file beside the destination, which is renamed over it only when complete, so a
// failed write never leaves a half-written file where the user's file was.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace corvane {

// Owner-only permissions, for private keys and PFX files.
inline constexpr mode_t kPrivateFileMode = 0600;
inline constexpr mode_t kPublicFileMode = 0644;

// True when `path` holds exactly `bytes` with `mode`; false (and nothing changed) otherwise.
bool PublishFile(const std::string& path, std::string_view bytes, mode_t mode);

}  // namespace corvane

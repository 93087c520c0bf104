// The parts of a path, for the slash-separated paths every layer passes around.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

// The last component of `path`, after its last '/'; the whole path when it has none.
std::string FileNameOf(std::string_view path);

// Everything before the last '/' of `path`: "." when it has none, "/" for a file in the root.
std::string DirectoryOf(std::string_view path);

// Everything up to and including the last '/' of `path`, "" when it has none, so that the
// result followed by a name names a file beside `path`.
std::string DirectoryPrefixOf(std::string_view path);

// The user's temporary directory ($TMPDIR, else "/tmp"), without a trailing '/'.
std::string TemporaryDirectory();

}  // namespace corvane

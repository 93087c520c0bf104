// MD5 digests as 32 lower-case hexadecimal digits, the form the reputation service and its
// query signature use.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

// MD5 of `bytes`; empty text when the digest cannot be computed.
std::string Md5Hex(std::string_view bytes);

// MD5 of the file's content, read in 1024-byte pieces so that memory does not grow with the
// file; empty text when the file cannot be opened or read.
std::string FileMd5Hex(const std::string& path);

}  // namespace corvane

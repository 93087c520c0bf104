// Where a certificate or request comes from: a file named by its path, or content in memory.
// The two are told apart by the kind, never by the length, so pasted text of any length is
// always taken as content.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvane::zorvat {

struct Source {
  enum class Kind { File, Memory };
  Kind kind = Kind::Memory;
  std::string_view data;  // the path, or the content; not owned: it must outlive the Source

  static Source File(std::string_view path) { return {Kind::File, path}; }
  static Source Memory(std::string_view bytes) { return {Kind::Memory, bytes}; }
};

// The source's bytes: the content itself, or the whole file. A file that cannot be read, or
// empty content, gives nullopt with `fileError` or "Make Mem Bio Error" in errorText.
std::optional<std::string> ReadSource(const Source& source, const char* fileError,
                                      std::string& errorText);

// The whole file, or nullopt when it cannot be opened or read.
std::optional<std::string> ReadFileBytes(const std::string& path);

}  // namespace corvane::zorvat

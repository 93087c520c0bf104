// Outcome texts of every operation and the exception that carries them.
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace corvane {

// The fixed outcome vocabulary. Every value maps to exactly one English text; the
// text is what is compared, logged and carried, never the number.
enum class StatusCode {
  Succeed,
  Failed,
  Undefined,
  WindowsInternalError,
  CommunicationFailed,
  InvalidParam,
  FileNotExist,
  FileIsInUse,
  FileTypeNotSupported,
  InvalidPath,
  UserCancel,
  FileIsVirus,
  SignFileFailed,
  VerifyFileFailed,
  CounterSignFileFailed,
  CounterVerifyFileFailed,
  TimestampFailed,
  SignSucceedTimestampFailed,
  VerifyCertFailed,
  CertExpired,
  CertNotForCodeSign,
  CertPasswordWrong,
  NotSupportAddDrive,
  CloudVirusCheckError,
  FileContentEmpty,
  AlgorithmNotSupported,
  SmartCardNotSupportSha2,
  // Why a file could not be written, named after the system's own error.
  NoSpaceLeft,
  ReadOnlyFileSystem,
  DiskQuotaExceeded,
  InputOutputError,
  // A path naming a directory, pipe, socket or device instead of a file.
  NotRegularFile,
  // A file of a known format whose structure is broken (a truncated image).
  FileIsDamaged,
};

// The last value, for tables and loops over every status.
inline constexpr StatusCode kLastStatusCode = StatusCode::FileIsDamaged;

// The text of a status value, e.g. "file is in use".
const char* StatusCodeText(StatusCode code);

// The status value whose text equals `text` byte for byte, or false when the text is
// none of them (a composite text such as "CabFileSign::EmbedSignedData, undefined").
bool StatusCodeFromText(std::string_view text, StatusCode* code);

// The program's exception: one UTF-8 message, returned by what().
class ExceptionEx : public std::exception {
 public:
  explicit ExceptionEx(std::string message) : message_(std::move(message)) {}
  explicit ExceptionEx(StatusCode code) : message_(StatusCodeText(code)) {}
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// Longest message RaiseStatus carries (the rest is cut at a character boundary).
inline constexpr std::size_t kMaxStatusLength = 1023;

// Formats printf-style into at most kMaxStatusLength bytes and throws ExceptionEx.
[[noreturn]] void RaiseStatus(const char* format, ...) __attribute__((format(printf, 1, 2)));
[[noreturn]] void RaiseStatus(StatusCode code);

// The same formatting without the throw, for callers that build a text to log.
std::string FormatStatus(const char* format, ...) __attribute__((format(printf, 1, 2)));

bool IsFailure(const std::exception& e);
bool IsSucceed(const std::exception& e);
std::string StatusText(const std::exception& e);
bool HasStatus(const std::exception& e, StatusCode code);

// Throws a plain std::exception copy of `e` when it carries a failure; returns otherwise.
void RethrowIfFailed(const std::exception& e);

}  // namespace corvane

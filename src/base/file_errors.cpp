#include "base/file_errors.h"

#include <cerrno>

namespace corvane {

StatusCode StatusForFileError(int error, StatusCode otherwise) {
  switch (error) {
    case ENOSPC:
      return StatusCode::NoSpaceLeft;
    case EROFS:
      return StatusCode::ReadOnlyFileSystem;
    case EDQUOT:
      return StatusCode::DiskQuotaExceeded;
    case EIO:
      return StatusCode::InputOutputError;
    default:
      return otherwise;
  }
}

void RaiseFileError(int error, StatusCode otherwise) {
  RaiseStatus(StatusForFileError(error, otherwise));
}

}  // namespace corvane

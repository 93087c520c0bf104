// The status a failed file operation reports, from the system's error number.
#pragma once

#include "base/status.h"

namespace corvane {

// ENOSPC, EROFS, EDQUOT and EIO have texts of their own; every other error gives `otherwise`.
StatusCode StatusForFileError(int error, StatusCode otherwise = StatusCode::Undefined);

// Raises the status of `error` (see above).
[[noreturn]] void RaiseFileError(int error, StatusCode otherwise = StatusCode::Undefined);

}  // namespace corvane

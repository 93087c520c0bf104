#include "tasks/task_texts.h"

#include <cstring>

#include "base/status.h"

namespace corvane {
namespace {

struct Row {
  StatusCode status;
  const char* key;
};

constexpr Row kMessages[] = {
    {StatusCode::Undefined, "UiStateUnknownErr"},
    {StatusCode::Failed, "MsgStateFailed"},
    {StatusCode::CommunicationFailed, "MsgStateCommunicateFailed"},
    {StatusCode::InvalidParam, "MsgStateInvalidParam"},
    {StatusCode::FileIsInUse, "MsgStateFileNotAccess"},
    {StatusCode::FileNotExist, "MsgStateFileNotExist"},
    {StatusCode::FileTypeNotSupported, "MsgStateFileUnsupported"},
    {StatusCode::InvalidPath, "MsgStateFileInvalidPath"},
    {StatusCode::FileIsVirus, "MsgStateFileVirus"},
    {StatusCode::SignFileFailed, "MsgStateSignFailed"},
    {StatusCode::VerifyFileFailed, "MsgStateVerifyFailed"},
    {StatusCode::CounterSignFileFailed, "MsgStateCounterSignFailed"},
    {StatusCode::CounterVerifyFileFailed, "MsgStateCounterVerifyFailed"},
    {StatusCode::TimestampFailed, "MsgStateTimestampFailed"},
    {StatusCode::SignSucceedTimestampFailed, "MsgStateSignSuccessTimestampFailed"},
    {StatusCode::VerifyCertFailed, "MsgStateCertVerifyFailed"},
    {StatusCode::CertExpired, "MsgStateCertExpired"},
    {StatusCode::CertNotForCodeSign, "MsgStateCertNotCodeSign"},
    {StatusCode::CertPasswordWrong, "MsgStateCertPswdWrong"},
    {StatusCode::NotSupportAddDrive, "MsgStateNotSupportAddDrive"},
    {StatusCode::NoSpaceLeft, "MsgStateDiskFull"},
    {StatusCode::ReadOnlyFileSystem, "MsgStateReadOnlyDisk"},
    {StatusCode::DiskQuotaExceeded, "MsgStateDiskQuotaExceeded"},
    {StatusCode::InputOutputError, "MsgStateDiskIoError"},
    {StatusCode::NotRegularFile, "MsgStateNotRegularFile"},
    {StatusCode::FileIsDamaged, "MsgStateFileDamaged"},
};

}  // namespace

std::string TaskErrorText(const std::exception& outcome, const SkinTexts& texts) {
  if (IsSucceed(outcome)) return texts.Get("UiTaskStateComplete");
  const char* key = "UiStateUnknownErr";
  for (const Row& row : kMessages)
    if (HasStatus(outcome, row.status)) key = row.key;
  const char* prefix =
      HasStatus(outcome, StatusCode::SignSucceedTimestampFailed) ? "MsgTypeWarn" : "MsgTypeError";
  return texts.Get(prefix) + texts.Get(key);
}

RowState TaskErrorState(const std::exception& outcome) {
  if (IsSucceed(outcome)) return RowState::Complete;
  return HasStatus(outcome, StatusCode::SignSucceedTimestampFailed) ? RowState::Warning
                                                                    : RowState::Error;
}

std::optional<std::string> WorkerResultText(const std::exception& outcome, const SkinTexts& texts) {
  if (IsSucceed(outcome)) return std::nullopt;
  if (HasStatus(outcome, StatusCode::UserCancel)) return std::string();
  if (HasStatus(outcome, StatusCode::SmartCardNotSupportSha2))
    return texts.Get("UiSmartCardNotSupportSha2Alg");
  return texts.Get("UiStateUnknownErr");
}

}  // namespace corvane

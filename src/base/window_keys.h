// Language-table keys of every window, in the order each window loads them, and the owner
// name each window puts in front of "::GetSkinLan, " when logging a failed load.
#pragma once

namespace corvane {

inline constexpr char kGuiWndOwner[] = "CGuiWnd";
inline constexpr char kCsrToolOwner[] = "CSRTool";
inline constexpr char kCrossCertWndOwner[] = "CrossCertWnd";
inline constexpr char kCertToolOwner[] = "CertTool";
inline constexpr char kVerWndOwner[] = "VerWnd";
inline constexpr char kFeedbackWndOwner[] = "FeedbackWnd";

inline constexpr const char* kGuiWndKeys[] = {
    "WebSiteBuy",
    "WebSiteHelp",
    "WebSiteHome",
    "title",
    "XmlDespName",
    "UiStateUnknownErr",
    "UiTaskStateWait",
    "UiTaskStateVirusScan",
    "UiTaskStateSign",
    "UiTaskStateComplete",
    "UiTaskStateSignWithKernelMode",
    "UiTaskStateErr",
    "UiTaskStateFileTypeNotSupportSign",
    "UiTaskStateFileIsVirus",
    "UiTaskStateVirusCheckFailed",
    "UiGloErrNoSupAll",
    "UiGloErrSelCert",
    "UiGloErrCertOutOfDate",
    "UiGloErrTypeErr",
    "UiGloErrCertPathErr",
    "UiGloErrPwdIsNull",
    "UiGloErrPwdErrOrCertErr",
    "UiGloErrNoFile",
    "UiGloExcutingAutoClose",
    "UiEdtCert",
    "UiAddFileFilter",
    "UiAddFolderTitle",
    "UiBtnCheckVerNew",
    "UiBtnCheckVer",
    "CertLibName",
    "UiPromptVerifyErr",
    "UiPromptFileTypeErr",
    "MsgStateFailed",
    "MsgStateCommunicateFailed",
    "MsgStateInvalidParam",
    "MsgStateFileNotAccess",
    "MsgStateFileNotExist",
    "MsgStateFileUnsupported",
    "MsgStateFileInvalidPath",
    "MsgStateFileVirus",
    "MsgStateSignFailed",
    "MsgStateVerifyFailed",
    "MsgStateCounterSignFailed",
    "MsgStateCounterVerifyFailed",
    "MsgStateTimestampFailed",
    "MsgStateSignSuccessTimestampFailed",
    "MsgStateCertVerifyFailed",
    "MsgStateCertExpired",
    "MsgStateCertNotCodeSign",
    "MsgStateCertPswdWrong",
    "MsgStateNotSupportAddDrive",
    "MsgStateDiskFull",
    "MsgStateReadOnlyDisk",
    "MsgStateDiskQuotaExceeded",
    "MsgStateDiskIoError",
    "MsgStateNotRegularFile",
    "MsgStateFileDamaged",
    "UiTipChainNotTrusted",
    "MsgTypeWarn",
    "MsgTypePrompt",
    "MsgTypeError",
    "UiTipWndTitle",
    "UiImportCrossCertWndTitle",
    "UiFeedbackWndTitle",
    "TipMsgNotConn",
    "UiDoubleCertTip",
    "UiNotSupportSha2Sign",
    "UiSmartCardNotSupportSha2Alg",
};

inline constexpr const char* kCsrToolKeys[] = {
    "UiCSRTaskStateWait",
    "UiCSRTaskStateComplete",
    "UiTaskStateErr",
    "UiTaskStateInputInvalid",
    "UiTaskStateLoadControlFailed",
    "UiTaskStateEnumCSPFailed",
    "UiTaskStateAddCSPFailed",
    "UiTaskStateStatisticalCSPFailed",
    "UiTaskStateFilePathIsEmpty",
    "UiTaskStateKeyLengthIsShort",
    "UiTaskStateEmailAddressIsIllegal",
    "UiTaskStateGenerateCSRFailed",
    "UiTaskStateCsrContentIsNull",
    "UiTaskStateCsrContentIsIllegal",
    "UiTaskStateCheckCsrState",
    "UiTaskStateCheckCsrFailed",
    "UiTaskStateCheckCsrRetWithWin7",
    "UiTaskStateCheckCsrRet",
    "UiGloErrSelCSP",
    "UiGloErrSelKeyLen",
};

inline constexpr const char* kCrossCertWndKeys[] = {
    "TipSelCrossCert", "TipNotExistCrossCert", "TipIncompVerifyInfo",
    "TipCertNotMatch", "TipNotCorvane",
};

inline constexpr const char* kCertToolKeys[] = {
    "UiCertTaskStateWait",
    "UiCertTaskStateComplete",
    "UiTaskStateSelectCertFile",
    "UiTaskStateErr",
    "UiTaskStateLoadControlFailed",
    "UiTaskStateFilePathIsEmpty",
    "UiTaskStatePasswordIsEmpty",
    "UiPasswordMatchFailed",
    "UiTaskStateGeneratePFXFailed",
    "UiTaskStateGeneratePFXSuccess",
    "UiTaskStateCertContentIsNull",
    "UiTaskStateUserCertContentIsNull",
    "UiTaskStateCertContentIsInvalid",
    "UiTaskStateUserCertContentIsInvalid",
    "UiTaskStateUpperCert1ContentIsInvalid",
    "UiTaskStateUpperCert2ContentIsInvalid",
    "UiTaskStateUpperCert3ContentIsInvalid",
    "UiInstallCertFailedReason",
    "UiCertPathIsNullOrInvalid",
    "UiUserCertPathIsNullOrInvalid",
    "UiGenerateCertChainFailed",
    "UiGenerateCertChainSuccess",
    "UiGloErrSelKeyLen",
    "UiGloErrCertPathErr",
    "UiGloErrUserCertPathErr",
    "UiGloErrUp1CertPathErr",
    "UiGloErrUp2CertPathErr",
    "UiGloErrUp3CertPathErr",
    "UiGloErrPvkPathErr",
    "TitleOpPasterCert1",
    "TitleOpPasterCert2",
};

inline constexpr const char* kVerWndKeys[] = {
    "XmlDespName",    "StateChecking",   "StateHaveNew", "StateIsNew",       "StateNotConnect",
    "StateUpdateing", "StateUpdateFail", "DespNone",     "BtnExeUpdateName", "StateUpdateByPackage",
};

inline constexpr const char* kFeedbackWndKeys[] = {
    "WebSiteFeedback", "PromptsErrDescDefault", "PromptsAdviceDescDefault",
    "EmailHelpTip",    "PromptsEmailNull",      "PromptsSuccess",
    "PromptsFailed",   "PromptsEmptyDesp",      "PromptsCommunicateFailed",
    "ForumHelpTip",    "PromptsSubmitting",     "BtnSubmitCaptionClose",
};

// The desktop dialogs that stand in for the platform's own (store selection, certificate
// viewer, PIN prompt, file properties); the main window loads them with its own keys.
inline constexpr const char* kGuiDialogKeys[] = {
    "DlgStoreTitle",      "DlgStoreHint",    "DlgColIssuedTo",     "DlgColIssuedBy",
    "DlgColSerial",       "DlgColToken",     "DlgNoStoreCert",     "DlgOk",
    "DlgCancel",          "DlgClose",        "DlgViewCert",        "DlgCertTitle",
    "DlgCertSubject",     "DlgCertIssuer",   "DlgCertSerial",      "DlgCertValidFrom",
    "DlgCertValidTo",     "DlgCertUsages",   "DlgCertChain",       "DlgCertThumbSha1",
    "DlgCertThumbSha256", "DlgPinTitle",     "DlgPinPrompt",       "DlgPropTitle",
    "DlgPropPath",        "DlgPropSize",     "DlgPropBytes",       "DlgPropModified",
    "DlgPropAccessed",    "DlgPropChanged",  "DlgPropPermissions", "DlgPropSignatures",
    "DlgPropNoSignature", "DlgPropSigValid", "DlgPropSigInvalid",  "DlgPropSigNested",
    "DlgPropSigPrimary",  "DlgPropSigner",   "DlgPropDigest",      "DlgPropTimestamp",
    "DlgPropNoTimestamp", "DlgSettingSaved",     "DlgSettingBadHost",  "DlgSettingSaveFailed",
    "DlgSettingEnvironment",
};

}  // namespace corvane

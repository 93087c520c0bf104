#include "gui/gui_texts.h"

#include <vector>

#include "app/window_keys.h"

namespace corvane::gui {
namespace {

constexpr const char* kDialogKeys[] = {
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
    "DlgPropNoTimestamp",
};

SkinTexts LoadMainTexts() {
  std::vector<const char*> keys(std::begin(kGuiWndKeys), std::end(kGuiWndKeys));
  keys.insert(keys.end(), std::begin(kDialogKeys), std::end(kDialogKeys));
  return GetSkinLan(kGuiWndOwner, keys);
}

}  // namespace

const SkinTexts& MainTexts() {
  static const SkinTexts texts = LoadMainTexts();
  return texts;
}

const SkinTexts& CrossCertTexts() {
  static const SkinTexts texts = GetSkinLan(kCrossCertWndOwner, kCrossCertWndKeys);
  return texts;
}

QString SkinFolder() { return CurrentUiLanguage() == UiLanguage::Chinese ? "zh" : "en"; }

}  // namespace corvane::gui

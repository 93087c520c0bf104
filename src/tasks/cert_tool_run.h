// The certificate tab's install operation, free of any window: the tab's checks and
// messages around planning, confirming and placing the certificates of a file or of pasted
// text.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/ui_message.h"
#include "cert/cert_install.h"
#include "cert/key_store.h"

namespace corvane {

struct InstallCertInput {
  bool pasteMode = false;
  std::string pastedText;      // paste mode
  std::string certFile;        // file mode
  std::string pkcs12Password;  // opens a PKCS #12 file (the tab installs those without one)
};

// Shows the plan and returns the user's yes or no (the import wizard's confirmation).
using InstallConfirm = std::function<bool(const std::vector<InstallItem>& plan)>;

// InstallCert. Refusals: UiTaskStateCertContentIsNull, UiTaskStateCertContentIsInvalid (paste
// mode), UiCertPathIsNullOrInvalid, UiGloErrCertPathErr (file mode), each red. Otherwise the
// progress shows UiCertTaskStateWait in green and the outcome is an empty message, whether the
// user confirmed or declined (the confirmation shows what was placed); a certificate that
// cannot be placed gives UiInstallCertFailedReason in red.
UiMessage InstallCert(const InstallCertInput& input, KeyStore* store, const InstallConfirm& confirm,
                      const UiProgress& progress = {});

}  // namespace corvane

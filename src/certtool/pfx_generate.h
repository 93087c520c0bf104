// Joining an issued certificate and its private key file into a PFX file: the certificate
// tab's PFX operation, free of any window.
#pragma once

#include <string>

#include "base/ui_message.h"

namespace corvane {

struct PfxGenerateInput {
  bool pasteMode = false;            // the certificate is pasted text, not a file
  std::string certText;              // pasted text (always content, whatever its length)
  std::string certFile;              // certificate file
  std::string keyFile;               // private key file
  std::string password;              // opens the key file and protects the PFX
  std::string confirmation;          // must equal the password
  ChooseSavePath chooseDestination;  // asked once the PFX is made; cancelled: nothing saved
};

struct PfxGenerateResult {
  UiMessage message;  // empty key: the status line is emptied
  bool clearPasswords = false;
};

// GeneratePfx. Once the PFX is made the destination is asked for; the PFX is written beside it
// and renamed over it, owner-only. The outcome stays on the status line.
PfxGenerateResult GeneratePfx(const PfxGenerateInput& input, const UiProgress& progress = {});

}  // namespace corvane

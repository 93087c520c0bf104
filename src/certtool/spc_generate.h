// Building an SPC file (a certificates-only PKCS #7 chain) from the user's certificate and
// up to three upper certificates: the certificate tab's SPC operation, free of any window.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "base/ui_message.h"
#include "zorvat/zorvat_source.h"

namespace corvane {

inline constexpr std::size_t kMaxUpperCerts = 3;

struct SpcGenerateInput {
  bool pasteMode = false;
  std::string userText;                                // pasted user certificate
  std::string userFile;                                // user certificate file
  std::array<std::string, kMaxUpperCerts> upperFiles;  // each may be empty
  ChooseSavePath chooseDestination;  // asked once the chain is made; cancelled: nothing saved
};

// CollectUpperCerts: loads the user's certificate and every given upper certificate, and
// lists the upper paths in order without those whose serial number equals the user's or an
// earlier upper certificate's. Failure: the message to show.
bool CollectUpperCerts(const zorvat::Source& user, bool pasteMode,
                       const std::array<std::string, kMaxUpperCerts>& upperFiles,
                       std::vector<std::string>& upperList, UiMessage& failure);

// GenerateSpc. Once the chain is made the destination is asked for; the file is the PEM text
// ("PKCS7") followed by one zero byte, written beside it and renamed over it. The outcome
// stays on the status line.
UiMessage GenerateSpc(const SpcGenerateInput& input, const UiProgress& progress = {});

}  // namespace corvane

// The signing run of "sign", for the commands that sign what they make ("cat --sign").
#pragma once

#include <string>
#include <vector>

#include "cli/cli_options.h"

namespace corvane::cli {

// The options the signing run reads.
inline const std::vector<std::string> kSignValueOptions = {
    "pfx",        "password",      "password-file", "password-env", "cross-cert", "timestamp-host",
    "store-cert", "pkcs11-module", "pin",           "scan-host",    "jobs"};

// The most files --jobs signs at once.
inline constexpr unsigned kMaxSignJobs = 64;
inline const std::vector<std::string> kSignFlagOptions = {"append", "kernel", "rfc3161",
                                                          "page-hashes"};

// Signs `files` as "sign" does with the sign options of `args`, printing one line per file;
// `command` names the command in usage errors. Returns the exit status.
int SignFiles(const Arguments& args, const std::vector<std::string>& files,
              const std::string& command);

}  // namespace corvane::cli

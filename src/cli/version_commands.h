// What check-update and update share: their options and the version window's check.
#pragma once

#include <optional>

#include "base/language.h"
#include "net/version_update.h"

namespace corvane::cli {

// Parses --update-host and --ca-bundle; false after a usage error has been printed.
bool ParseUpdateOptions(int argc, char** argv, const char* command);

// The version window's texts in the current language.
const SkinTexts& VersionTexts();

// Runs the check and prints the versions, the state and the release notes; nullopt (with
// the state text on standard error) when the server could not be asked.
std::optional<UpdateStatus> CheckAndPrint();

}  // namespace corvane::cli

// Small command-line helpers shared by the commands of corvanecode-cli.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/language.h"

namespace corvane::cli {

// Exit statuses of the commands.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNotUsable = 3;

// Parsed "--name value" options, "--flag" switches and the remaining operands.
struct Arguments {
  std::map<std::string, std::string> values;                  // the last value of each option
  std::map<std::string, std::vector<std::string>> allValues;  // every value, in order
  std::map<std::string, bool> flags;
  std::vector<std::string> operands;

  std::optional<std::string> Value(const std::string& name) const;
  std::vector<std::string> Values(const std::string& name) const;
  bool Flag(const std::string& name) const;
};

// Splits argv against the options a command knows; an unknown option or a value option at
// the end of the line is a usage error (returned as text).
std::optional<std::string> ParseArguments(int argc, char** argv, int first,
                                          const std::vector<std::string>& valueOptions,
                                          const std::vector<std::string>& flagOptions,
                                          Arguments& out);

// The PFX password: --password, else the first line of --password-file, else the variable
// named by --password-env, else CORVANECODE_PFX_PASSWORD, else empty. Keeping it out of the
// command line keeps it out of process lists.
std::optional<std::string> ResolvePassword(const Arguments& args, std::string& error);

// The main window's texts in the current language, loaded once.
const SkinTexts& MainTexts();

// "Error: <text>" on standard error.
void PrintError(const std::string& text);

}  // namespace corvane::cli

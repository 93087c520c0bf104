#include "base/program_files.h"

namespace corvane {
namespace {

constexpr ProgramFiles kWindowFiles{"corvanecode", "corvanecode.exe", kUpdateLeftoverName};
constexpr ProgramFiles kCliFiles{"corvanecode-cli", "corvanecode-cli.exe",
                                 "corvanecode-cli.new.exe"};

}  // namespace

const ProgramFiles& FilesOf(Program program) {
  return program == Program::Window ? kWindowFiles : kCliFiles;
}

std::string HandOffArgument(const std::string& executablePath) {
  return std::string("/") + kHandOffKey + ":\"" + executablePath + "\"";
}

}  // namespace corvane

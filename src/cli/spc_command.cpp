// corvanecode-cli spc: the user's certificate and its issuing certificates as an SPC file.
#include <cstring>
#include <iostream>

#include "certtool/spc_generate.h"
#include "cli/cli_options.h"
#include "cli/commands.h"
#include "cli/tool_output.h"

namespace corvane::cli {

int SpcCommand(int argc, char** argv) {
  // --upper may be given up to three times, in chain order; the rest parses as usual.
  std::vector<std::string> uppers;
  std::vector<char*> rest(argv, argv + 2);
  std::optional<std::string> error;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--upper") == 0) {
      if (i + 1 >= argc) {
        error = "option --upper needs a value";
        break;
      }
      uppers.push_back(argv[++i]);
    } else if (std::strncmp(argv[i], "--upper=", 8) == 0) {
      uppers.push_back(argv[i] + 8);
    } else {
      rest.push_back(argv[i]);
    }
  }
  Arguments args;
  if (!error)
    error = ParseArguments(static_cast<int>(rest.size()), rest.data(), 2,
                           {"user", "user-text", "out"}, {}, args);
  if (!error && !args.operands.empty()) error = "unexpected argument " + args.operands.front();
  if (!error && args.Value("user") && args.Value("user-text"))
    error = "give either --user or --user-text";
  if (!error && uppers.size() > kMaxUpperCerts) error = "at most three --upper certificates";
  if (!error && !args.Value("out")) error = "--out FILE is needed";
  if (error) {
    std::cerr << "spc: " << *error << "\n";
    return kExitUsage;
  }
  SpcGenerateInput input;
  input.pasteMode = args.Value("user-text").has_value();
  input.userText = args.Value("user-text").value_or("");
  input.userFile = args.Value("user").value_or("");
  for (std::size_t i = 0; i < uppers.size(); ++i) input.upperFiles[i] = uppers[i];
  const std::string out = *args.Value("out");
  input.chooseDestination = [out] { return std::optional<std::string>(out); };
  UiMessage message = GenerateSpc(input);
  PrintToolMessage(CertToolTexts(), message);
  return message.ok() ? kExitOk : kExitFailed;
}

}  // namespace corvane::cli

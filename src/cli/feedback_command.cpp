// corvanecode-cli feedback: the feedback window's submission from the command line.
#include <iostream>

#include "base/language.h"
#include "base/run_log.h"
#include "base/window_keys.h"
#include "cli/cli_options.h"
#include "cli/commands.h"
#include "net/feedback.h"
#include "net/server_hosts.h"

namespace corvane::cli {

int FeedbackCommand(int argc, char** argv) {
  Arguments args;
  if (auto error = ParseArguments(argc, argv, 2,
                                  {"type", "text", "contact", "log-host", "ca-bundle"}, {}, args)) {
    std::cerr << "feedback: " << *error << "\n";
    return kExitUsage;
  }
  const std::string type = args.Value("type").value_or("");
  if ((type != "bug" && type != "advice") || !args.Value("text") || !args.operands.empty()) {
    std::cerr << "feedback: give --type bug|advice and --text (see --help)\n";
    return kExitUsage;
  }
  if (auto host = args.Value("log-host")) SetLogHost(*host);
  if (auto bundle = args.Value("ca-bundle")) SetCaBundlePath(*bundle);

  const SkinTexts texts = GetSkinLan(kFeedbackWndOwner, kFeedbackWndKeys);
  FeedbackSession session(texts, RunLogPath());
  const FeedbackSession::Prepared prepared =
      session.Submit(type, *args.Value("text"), args.Value("contact").value_or(""));
  if (!prepared.body) {
    PrintError(texts.Get(prepared.prompt.key));
    return kExitFailed;
  }
  const FeedbackPrompt outcome = session.SubmitThread(*prepared.body, LogServerUrl());
  if (outcome.colour == kPromptRed) {
    PrintError(texts.Get(outcome.key));
    return kExitFailed;
  }
  std::cout << texts.Get(outcome.key) << "\n";
  return kExitOk;
}

}  // namespace corvane::cli

#include "net/feedback.h"

#include <chrono>

#include "base/run_log.h"
#include "base/status.h"
#include "net/communicator.h"
#include "net/error_lines.h"
#include "net/json_body.h"
#include "net/stat_comm.h"

namespace corvane {
namespace {

std::string_view TrimBoth(std::string_view text, char c) {
  while (!text.empty() && text.front() == c) text.remove_prefix(1);
  while (!text.empty() && text.back() == c) text.remove_suffix(1);
  return text;
}

}  // namespace

std::string TrimFeedbackText(std::string_view text) {
  for (char c : {' ', '\r', '\n', '\t'}) text = TrimBoth(text, c);
  return std::string(text);
}

std::string BuildFeedbackBody(const FeedbackRequest& request) {
  Json::Value body(Json::objectValue);
  body["contact"] = request.contact;
  body["desc"] = request.desc;
  body["loginfo"] = request.loginfo;
  body["msgType"] = request.msgType;
  body["platform"] = "windows";
  body["product"] = request.product;
  body["type"] = "msgReq";
  body["version"] = request.version;
  return StyledJson(body);
}

FeedbackSession::FeedbackSession(const SkinTexts& texts, std::string runLogPath,
                                 std::function<ProductIdentity()> identity)
    : texts_(texts), identity_(std::move(identity)) {
  reader_ = std::thread([this, path = std::move(runLogPath)] {
    errorLines_ = CollectErrorLines(path);
    ready_ = true;
  });
}

FeedbackSession::~FeedbackSession() {
  if (reader_.joinable()) reader_.join();
}

FeedbackSession::Prepared FeedbackSession::Submit(const std::string& selectedType,
                                                  std::string_view description,
                                                  std::string_view contact) {
  FeedbackRequest request;
  request.msgType = selectedType == "bug" || selectedType == "advice" ? selectedType : "null";
  request.desc = TrimFeedbackText(description);
  if (request.desc.empty() || request.desc == texts_.Get("PromptsErrDescDefault") ||
      request.desc == texts_.Get("PromptsAdviceDescDefault")) {
    return {std::nullopt, {"PromptsEmptyDesp", kPromptRed}};
  }
  request.contact = TrimFeedbackText(contact);
  if (request.contact == texts_.Get("EmailHelpTip")) request.contact.clear();
  const ProductIdentity identity = identity_();
  request.product = identity.product;
  request.version = identity.version;

  for (int look = 0; look < 10 && !ready_; ++look)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  if (ready_) request.loginfo = errorLines_;
  return {BuildFeedbackBody(request), {"PromptsSubmitting", kPromptGreen}};
}

FeedbackPrompt FeedbackSession::SubmitThread(
    const std::string& body, const std::string& serverUrl,
    const std::function<void(const FeedbackPrompt&)>& sending) {
  if (sending) sending({"PromptsSubmitting", kPromptGreen});
  try {
    const std::string answer = CCommunicator(serverUrl).Post(body);
    StatComm::CheckResponse("msgResp", answer);
    return {"PromptsSuccess", kPromptGreen};
  } catch (const std::exception& e) {
    LogError("%s : %s", "FeedBackWnd::Submit", e.what());
    const bool communication =
        std::string_view(e.what()) == StatusCodeText(StatusCode::CommunicationFailed);
    return {communication ? "PromptsCommunicateFailed" : "PromptsFailed", kPromptRed};
  }
}

}  // namespace corvane

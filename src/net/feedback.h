// Feedback to the maker's log server: a report or a suggestion, an optional contact, the
// product and version, and the last error lines of the run log. UI-free: the operations
// return the language key and colour the feedback window shows in its prompt line.
#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "base/language.h"
#include "base/own_version.h"

namespace corvane {

inline constexpr const char* kPromptRed = "#00FF0000";
inline constexpr const char* kPromptGreen = "#00279E36";

// The prompt line: a key of the feedback window's table and its colour.
struct FeedbackPrompt {
  std::string key;
  std::string colour;
};

// Spaces, then CR, then LF, then TAB taken off both ends, one kind after the other.
std::string TrimFeedbackText(std::string_view text);

struct FeedbackRequest {
  std::string contact;
  std::string desc;
  std::string loginfo;
  std::string msgType;  // "bug", "advice" or "null"
  std::string product;
  std::string version;
};

// The "msgReq" body in the JSON library's styled form, members in byte-wise key order.
std::string BuildFeedbackBody(const FeedbackRequest& request);

// One opened feedback window: picks the run log's error lines on a thread of its own as soon
// as it is made, validates and sends submissions.
class FeedbackSession {
 public:
  // `texts` holds the feedback window's keys (the placeholders are compared with them).
  FeedbackSession(const SkinTexts& texts, std::string runLogPath,
                  std::function<ProductIdentity()> identity = OwnProductIdentity);
  ~FeedbackSession();
  FeedbackSession(const FeedbackSession&) = delete;
  FeedbackSession& operator=(const FeedbackSession&) = delete;

  struct Prepared {
    std::optional<std::string> body;  // nullopt: nothing to send
    FeedbackPrompt prompt;            // "PromptsEmptyDesp" in red, or green for sending
  };
  // Validates the input and builds the body. `selectedType` is "bug" (opError), "advice"
  // (opAdvice) or anything else ("null"). A description that is empty or still a placeholder
  // is refused; a contact left at its placeholder is sent empty. Waits at most one second for
  // the error lines and goes on without them.
  Prepared Submit(const std::string& selectedType, std::string_view description,
                  std::string_view contact);

  // Sends a prepared body to `serverUrl` and returns the outcome: "PromptsSuccess" (green),
  // "PromptsCommunicateFailed" or "PromptsFailed" (red; the failure is logged). `sending`,
  // when given, is told "PromptsSubmitting" before the exchange.
  FeedbackPrompt SubmitThread(const std::string& body, const std::string& serverUrl,
                              const std::function<void(const FeedbackPrompt&)>& sending = {});

  bool errorLinesReady() const { return ready_; }

 private:
  const SkinTexts& texts_;
  std::function<ProductIdentity()> identity_;
  std::string errorLines_;
  std::atomic<bool> ready_{false};
  std::thread reader_;
};

}  // namespace corvane

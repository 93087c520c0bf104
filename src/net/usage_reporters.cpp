#include "net/usage_reporters.h"

#include "base/run_log.h"
#include "net/communicator.h"
#include "net/stat_comm.h"

namespace corvane {
namespace {

// Sleeps `pause`, waking early when the stop request is raised; false once it is.
bool Pause(std::chrono::milliseconds pause, const std::stop_token& stop) {
  const auto end = std::chrono::steady_clock::now() + pause;
  for (;;) {
    if (stop.stop_requested()) return false;
    const auto now = std::chrono::steady_clock::now();
    if (now >= end) return true;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(end - now, std::chrono::milliseconds(20)));
  }
}

}  // namespace

UsageCounters::UsageCounters() {
  for (const char* name : {"buyLink", "otherLink", "signFile"}) counts_[name] = 0;
}

void UsageCounters::Add(const std::string& name, int amount) {
  const auto found = counts_.find(name);
  if (found != counts_.end()) found->second += amount;
}

int UsageCounters::Get(const std::string& name) const {
  const auto found = counts_.find(name);
  return found == counts_.end() ? 0 : found->second.load();
}

void UsageCounters::Reported(const std::string& name, int count) { Add(name, -count); }

std::vector<std::string> UsageCounters::names() const {
  std::vector<std::string> names;
  for (const auto& entry : counts_) names.push_back(entry.first);
  return names;
}

void UserStatThread(const std::string& serverUrl, const ReporterControl& control) {
  try {
    StatComm(serverUrl, control.identity).SendUserStat();
  } catch (const std::exception& e) {
    LogError("%s, %s", "CGuiWnd::UserStatThread", e.what());
  }
}

void ActionStatThread(UsageCounters& counters, const std::string& serverUrl,
                      const ReporterControl& control, const std::function<bool()>& signRunning) {
  try {
    for (;;) {
      for (const std::string& name : counters.names()) {
        if (control.stop.stop_requested()) break;
        const int count = counters.Get(name);
        if (count <= 0) {
          Pause(control.pause, control.stop);
          continue;
        }
        if (name == "signFile" && signRunning && signRunning()) continue;
        if (StatComm(serverUrl, control.identity).SendAction(count, name))
          counters.Reported(name, count);
        Pause(control.pause, control.stop);
      }
      if (!Pause(control.pause, control.stop)) break;
    }
  } catch (const std::exception& e) {
    LogError("%s, %s", "CGuiWnd::ActionStatThread", e.what());
  }
}

ForumClickReporter::ForumClickReporter(std::string serverUrl, std::chrono::milliseconds period,
                                       std::function<ProductIdentity()> identity)
    : serverUrl_(std::move(serverUrl)), period_(period), identity_(std::move(identity)) {
  thread_ = std::thread([this] { Run(); });
}

ForumClickReporter::~ForumClickReporter() {
  stop_.request_stop();
  if (thread_.joinable()) thread_.join();
}

void ForumClickReporter::Run() {
  // A report on its way when the window closes is abandoned, so that closing never waits for
  // the server.
  TransferStopScope transfers(stop_.get_token());
  while (Pause(period_, stop_.get_token())) {
    const int count = clicks_;
    if (count <= 0) continue;
    try {
      if (StatComm(serverUrl_, identity_).SendAction(count, "otherLink")) clicks_ -= count;
    } catch (const std::exception& e) {
      LogError("%s, %s", "FeedBackWnd::ReportClicks", e.what());
    }
  }
}

}  // namespace corvane

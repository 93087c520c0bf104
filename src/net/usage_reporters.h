// The usage counters and the workers that report them: the version report once per start,
// the action counts continuously, and the feedback window's forum clicks.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "base/own_version.h"

namespace corvane {

// Counts of user actions by name, "buyLink", "otherLink" and "signFile", all 0 at start.
// Counting and taking a report off are atomic, so a count added while a report is on its way
// is kept for the next one.
class UsageCounters {
 public:
  UsageCounters();
  UsageCounters(const UsageCounters&) = delete;
  UsageCounters& operator=(const UsageCounters&) = delete;

  void Add(const std::string& name, int amount = 1);
  int Get(const std::string& name) const;
  // Takes a successfully reported `count` off the counter.
  void Reported(const std::string& name, int count);
  // The names in byte-wise order.
  std::vector<std::string> names() const;

 private:
  std::map<std::string, std::atomic<int>> counts_;
};

// How a reporter runs: the program's stop request and the pause between looks (1 second in
// the program). Its busy flag is the worker registry's, held by whoever started it.
struct ReporterControl {
  std::stop_token stop;
  std::chrono::milliseconds pause{1000};
  std::function<ProductIdentity()> identity = OwnProductIdentity;
};

// The version report of this start (StatComm::SendUserStat); errors go to the run log.
void UserStatThread(const std::string& serverUrl, const ReporterControl& control);

// Reports each positive count in name order, one pause after each entry and each pass, until
// the stop request; "signFile" waits while `signRunning` says a signing run is going on. A
// count is taken off only when the server gave the right answer.
void ActionStatThread(UsageCounters& counters, const std::string& serverUrl,
                      const ReporterControl& control, const std::function<bool()>& signRunning);

// The feedback window's forum-link clicks, reported as "otherLink" every `period` while the
// object lives.
class ForumClickReporter {
 public:
  ForumClickReporter(std::string serverUrl, std::chrono::milliseconds period,
                     std::function<ProductIdentity()> identity = OwnProductIdentity);
  ~ForumClickReporter();
  ForumClickReporter(const ForumClickReporter&) = delete;
  ForumClickReporter& operator=(const ForumClickReporter&) = delete;

  void Click() { ++clicks_; }
  int pending() const { return clicks_; }

 private:
  void Run();

  std::string serverUrl_;
  std::chrono::milliseconds period_;
  std::function<ProductIdentity()> identity_;
  std::atomic<int> clicks_{0};
  std::stop_source stop_;
  std::thread thread_;
};

}  // namespace corvane

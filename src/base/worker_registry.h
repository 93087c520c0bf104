// The program's background workers: one busy flag per kind of worker, a start that tests and
// sets that flag in one step, and the one stop request that every long operation takes.
//
// The stop request is set once, when the user closes the main window while work is going on,
// and never cleared. Workers look at it before each item (a file, a report, a download chunk)
// and never cut an item short on their own; transfers that wait on the network end early
// through it.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

namespace corvane {

enum class WorkerKind {
  // The ten workers the main window waits for before it closes.
  SignVerify,    // the signing tab's sign and verify runs
  Tool,          // the CAB/CAT tab's cabinet and catalog runs
  VersionCheck,  // the background version check at start-up
  UserStat,      // the version report at start-up
  ActionStat,    // the usage-count reporter
  StoreChoice,   // choosing a store certificate
  CertView,      // showing the chosen certificate
  CsrGenerate,   // the CSR tab's generation
  CsrCheck,      // the CSR tab's check
  CertTool,      // the certificate tab's install, PFX and SPC operations
  // Threads of the version and feedback windows: they take the stop request but the main
  // window does not wait for them (the update itself waits for the ten above).
  VersionWindow,
  Feedback,
};

inline constexpr std::size_t kWorkerKindCount = static_cast<std::size_t>(WorkerKind::Feedback) + 1;

class WorkerRegistry {
 public:
  WorkerRegistry() = default;
  // Waits for every thread it started.
  ~WorkerRegistry();
  WorkerRegistry(const WorkerRegistry&) = delete;
  WorkerRegistry& operator=(const WorkerRegistry&) = delete;

  // Marks `kind` busy when it is idle: true when this call did so, false when it already runs.
  bool TryStart(WorkerKind kind);
  void Finish(WorkerKind kind);

  // Runs `body` on a thread of its own under `kind`'s busy flag, which is cleared when the body
  // returns or throws; then `afterFinish` runs on that thread, so whoever it tells that the
  // work has ended may start the next at once. False (and nothing runs) when `kind` is busy
  // already or the thread cannot be created.
  bool Launch(WorkerKind kind, std::function<void(std::stop_token)> body,
              std::function<void()> afterFinish = {});

  bool IsBusy(WorkerKind kind) const;
  // True while any of the ten main-window workers runs.
  bool IsAnyWorkerRunning() const;

  // One stop request for every worker; the workers that saw it stay stopped.
  void RequestStop();
  bool stopRequested() const;
  std::stop_token StopToken() const;
  // Takes a raised stop request back (an update that failed): workers started from now on run
  // normally.
  void WithdrawStop();

  // Blocks until every thread started by Launch has ended.
  void JoinAll();

 private:
  std::array<std::atomic<bool>, kWorkerKindCount> busy_{};
  mutable std::mutex stopMutex_;
  std::stop_source stop_;
  struct Thread {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::mutex threadsMutex_;
  std::vector<Thread> threads_;
};

// The program's registry: the one the windows, the reporters and the command line share.
WorkerRegistry& Workers();

// Holds `kind` busy for a scope; `started()` is false when another run had it already.
class WorkerLease {
 public:
  WorkerLease(WorkerRegistry& registry, WorkerKind kind)
      : registry_(registry), kind_(kind), started_(registry.TryStart(kind)) {}
  ~WorkerLease() {
    if (started_) registry_.Finish(kind_);
  }
  WorkerLease(const WorkerLease&) = delete;
  WorkerLease& operator=(const WorkerLease&) = delete;
  bool started() const { return started_; }

 private:
  WorkerRegistry& registry_;
  WorkerKind kind_;
  bool started_;
};

}  // namespace corvane

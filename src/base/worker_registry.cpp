#include "base/worker_registry.h"

#include <memory>
#include <system_error>

namespace corvane {
namespace {

constexpr std::size_t Index(WorkerKind kind) { return static_cast<std::size_t>(kind); }

constexpr std::size_t kMainWindowWorkers = Index(WorkerKind::CertTool) + 1;

}  // namespace

WorkerRegistry::~WorkerRegistry() { JoinAll(); }

bool WorkerRegistry::TryStart(WorkerKind kind) {
  bool expected = false;
  return busy_[Index(kind)].compare_exchange_strong(expected, true);
}

void WorkerRegistry::Finish(WorkerKind kind) { busy_[Index(kind)] = false; }

bool WorkerRegistry::IsBusy(WorkerKind kind) const { return busy_[Index(kind)]; }

bool WorkerRegistry::IsAnyWorkerRunning() const {
  for (std::size_t i = 0; i < kMainWindowWorkers; ++i)
    if (busy_[i]) return true;
  return false;
}

void WorkerRegistry::RequestStop() {
  std::lock_guard lock(stopMutex_);
  stop_.request_stop();
}

bool WorkerRegistry::stopRequested() const {
  std::lock_guard lock(stopMutex_);
  return stop_.stop_requested();
}

std::stop_token WorkerRegistry::StopToken() const {
  std::lock_guard lock(stopMutex_);
  return stop_.get_token();
}

void WorkerRegistry::WithdrawStop() {
  std::lock_guard lock(stopMutex_);
  if (stop_.stop_requested()) stop_ = std::stop_source();
}

bool WorkerRegistry::Launch(WorkerKind kind, std::function<void(std::stop_token)> body,
                            std::function<void()> afterFinish) {
  if (!TryStart(kind)) return false;
  std::lock_guard lock(threadsMutex_);
  // Threads of earlier runs that have ended are joined here, so the list stays short.
  std::erase_if(threads_, [](Thread& t) {
    if (!*t.done) return false;
    t.thread.join();
    return true;
  });
  auto done = std::make_shared<std::atomic<bool>>(false);
  try {
    threads_.push_back(
        Thread{std::thread([this, kind, done, body = std::move(body),
                            afterFinish = std::move(afterFinish), token = StopToken()] {
                 try {
                   body(token);
                 } catch (...) {
                   // A worker reports its own outcome; nothing may escape a thread.
                 }
                 Finish(kind);
                 try {
                   if (afterFinish) afterFinish();
                 } catch (...) {
                 }
                 *done = true;
               }),
               done});
  } catch (const std::system_error&) {
    Finish(kind);
    return false;
  }
  return true;
}

void WorkerRegistry::JoinAll() {
  std::vector<Thread> threads;
  {
    std::lock_guard lock(threadsMutex_);
    threads.swap(threads_);
  }
  for (Thread& t : threads)
    if (t.thread.joinable()) t.thread.join();
}

WorkerRegistry& Workers() {
  // Never destroyed: a worker still running when the process ends must not find it gone.
  static WorkerRegistry* registry = new WorkerRegistry;
  return *registry;
}

}  // namespace corvane

#include "base/worker_registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tasks/file_list.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;

TEST(WorkerRegistryConcurrency, TwoConcurrentStartsGiveOneRun) {
  WorkerRegistry workers;
  std::atomic<int> runs{0};
  std::atomic<bool> release{false};
  std::atomic<int> started{0};
  std::vector<std::thread> pressers;
  // Eight "double clicks" at once: one run starts, the others are refused.
  for (int i = 0; i < 8; ++i)
    pressers.emplace_back([&] {
      if (workers.Launch(WorkerKind::SignVerify, [&](std::stop_token) {
            ++runs;
            while (!release) std::this_thread::sleep_for(1ms);
          }))
        ++started;
    });
  for (std::thread& t : pressers) t.join();
  EXPECT_EQ(started, 1);
  EXPECT_TRUE(workers.IsBusy(WorkerKind::SignVerify));
  EXPECT_TRUE(workers.IsAnyWorkerRunning());
  release = true;
  workers.JoinAll();
  EXPECT_EQ(runs, 1);
  EXPECT_FALSE(workers.IsAnyWorkerRunning());
  EXPECT_TRUE(workers.Launch(WorkerKind::SignVerify, [](std::stop_token) {}))
      << "a new run starts once the last one ended";
  workers.JoinAll();
}

TEST(WorkerRegistryConcurrency, TheStopRequestReachesEveryWorkerAndIsNeverCleared) {
  WorkerRegistry workers;
  std::atomic<int> ended{0};
  const WorkerKind kinds[] = {
      WorkerKind::SignVerify, WorkerKind::Tool,          WorkerKind::VersionCheck,
      WorkerKind::UserStat,   WorkerKind::ActionStat,    WorkerKind::StoreChoice,
      WorkerKind::CertView,   WorkerKind::CsrGenerate,   WorkerKind::CsrCheck,
      WorkerKind::CertTool,   WorkerKind::VersionWindow, WorkerKind::Feedback};
  for (WorkerKind kind : kinds)
    ASSERT_TRUE(workers.Launch(kind, [&](std::stop_token stop) {
      while (!stop.stop_requested()) std::this_thread::sleep_for(1ms);
      ++ended;
    }));
  EXPECT_TRUE(workers.IsAnyWorkerRunning());
  workers.RequestStop();
  workers.JoinAll();
  EXPECT_EQ(ended, static_cast<int>(std::size(kinds)));
  EXPECT_TRUE(workers.stopRequested());
  EXPECT_TRUE(workers.StopToken().stop_requested()) << "tokens taken later see it too";
}

TEST(WorkerRegistryConcurrency, WindowThreadsAreNotWaitedForAndAThrowingWorkerIsCleared) {
  WorkerRegistry workers;
  std::atomic<bool> release{false};
  ASSERT_TRUE(workers.Launch(WorkerKind::Feedback, [&](std::stop_token) {
    while (!release) std::this_thread::sleep_for(1ms);
  }));
  EXPECT_FALSE(workers.IsAnyWorkerRunning()) << "the main window does not wait for it";
  EXPECT_TRUE(workers.IsBusy(WorkerKind::Feedback));
  release = true;
  ASSERT_TRUE(workers.Launch(WorkerKind::CertTool,
                             [](std::stop_token) { throw std::runtime_error("boom"); }));
  workers.JoinAll();
  EXPECT_FALSE(workers.IsBusy(WorkerKind::CertTool));
  EXPECT_FALSE(workers.IsBusy(WorkerKind::Feedback));
}

// Whoever learns that a run ended may start the next one at once.
TEST(WorkerRegistryConcurrency, TheEndIsToldOnceTheFlagIsFree) {
  WorkerRegistry workers;
  for (int round = 0; round < 20; ++round) {
    std::atomic<bool> nextStarted{false};
    ASSERT_TRUE(workers.Launch(
        WorkerKind::SignVerify, [](std::stop_token) { std::this_thread::sleep_for(1ms); },
        [&] {
          nextStarted = workers.Launch(WorkerKind::SignVerify, [](std::stop_token) {});
        }));
    workers.JoinAll();
    EXPECT_TRUE(nextStarted) << round;
    workers.JoinAll();
  }
}

TEST(FileListConcurrency, AppendsWhileARunReadsAndReportsAreSafe) {
  FileList list;
  list.Merge({"/a.exe", "/b.exe", "/A.exe", "/a.exe"});
  EXPECT_EQ(list.Paths(), (std::vector<std::string>{"/a.exe", "/b.exe", "/A.exe"}))
      << "duplicates are exact, letter case included";
  std::atomic<bool> done{false};
  std::thread run([&] {
    // A run works on its snapshot and reports rows back while the list grows.
    for (int pass = 0; pass < 200; ++pass) {
      std::vector<std::string> paths = list.Paths();
      for (std::size_t row = 0; row < paths.size(); ++row)
        list.SetRow(row, RowState::Complete, "Complete");
    }
    done = true;
  });
  std::thread tool([&] {
    for (int i = 0; i < 200; ++i) list.Merge({"/product-" + std::to_string(i % 50) + ".cab"});
  });
  run.join();
  tool.join();
  EXPECT_TRUE(done);
  EXPECT_EQ(list.size(), 53u);
  EXPECT_TRUE(list.Contains("/product-49.cab"));
  list.Remove({0, 0, 2, 99});
  EXPECT_EQ(list.Paths().front(), "/b.exe");
}

}  // namespace
}  // namespace corvane

// The owner of one file list (the signing list or the tool list): rows in insertion order,
// no two with the same path (compared exactly, letter case included). Every operation takes
// the list's lock, so a worker may append to a list (the CAB/CAT run handing its product to
// the signing list) while another run reads it.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "tasks/row_state.h"

namespace corvane {

class FileList {
 public:
  explicit FileList(std::string waitingText = "Waiting...")
      : waitingText_(std::move(waitingText)) {}

  // Appends a "Waiting..." row for each path not listed yet; returns how many were added.
  std::size_t Merge(const std::vector<std::string>& paths);
  // Removes the rows at the given positions (any order, repeats ignored).
  void Remove(std::vector<std::size_t> rows);
  void Clear();

  // What a run works on: the paths as they are now.
  std::vector<std::string> Paths() const;
  std::vector<SignTask> Rows() const;
  std::size_t size() const;
  bool Contains(const std::string& path) const;

  // A run's report for one row; a row that has gone since is left alone.
  void SetRow(std::size_t row, RowState state, const std::string& text);
  void SetWaitingText(std::string text);

 private:
  mutable std::mutex mutex_;
  std::string waitingText_;
  std::vector<SignTask> rows_;
};

}  // namespace corvane

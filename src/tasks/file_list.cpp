#include "tasks/file_list.h"

#include <algorithm>

namespace corvane {

std::size_t FileList::Merge(const std::vector<std::string>& paths) {
  std::lock_guard lock(mutex_);
  std::size_t added = 0;
  for (const std::string& path : paths) {
    bool listed = std::any_of(rows_.begin(), rows_.end(),
                              [&](const SignTask& row) { return row.path == path; });
    if (listed) continue;
    rows_.push_back({path, waitingText_, RowState::Waiting});
    ++added;
  }
  return added;
}

void FileList::Remove(std::vector<std::size_t> rows) {
  std::lock_guard lock(mutex_);
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  for (auto it = rows.rbegin(); it != rows.rend(); ++it)
    if (*it < rows_.size()) rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(*it));
}

void FileList::Clear() {
  std::lock_guard lock(mutex_);
  rows_.clear();
}

std::vector<std::string> FileList::Paths() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> paths;
  paths.reserve(rows_.size());
  for (const SignTask& row : rows_) paths.push_back(row.path);
  return paths;
}

std::vector<SignTask> FileList::Rows() const {
  std::lock_guard lock(mutex_);
  return rows_;
}

std::size_t FileList::size() const {
  std::lock_guard lock(mutex_);
  return rows_.size();
}

bool FileList::Contains(const std::string& path) const {
  std::lock_guard lock(mutex_);
  return std::any_of(rows_.begin(), rows_.end(),
                     [&](const SignTask& row) { return row.path == path; });
}

void FileList::SetRow(std::size_t row, RowState state, const std::string& text) {
  std::lock_guard lock(mutex_);
  if (row >= rows_.size()) return;
  rows_[row].rowState = state;
  rows_[row].state = text;
}

void FileList::SetWaitingText(std::string text) {
  std::lock_guard lock(mutex_);
  waitingText_ = std::move(text);
}

}  // namespace corvane

// The item model of one file list: a view of the rows a FileList owns. The window changes the
// list through the model, on the UI thread, so the view's snapshot always matches the list.
#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <vector>

#include "tasks/file_list.h"

namespace corvane::gui {

class FileListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  FileListModel(FileList& list, QStringList headers, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // Appends the paths not listed yet; returns how many rows were added.
  std::size_t Merge(const std::vector<std::string>& paths);
  void Remove(std::size_t row);
  void Clear();
  // A run's report for one row.
  void SetRow(std::size_t row, RowState state, const std::string& text);

  FileList& list() { return list_; }
  const std::vector<SignTask>& rows() const { return rows_; }

 private:
  void Reload();

  FileList& list_;
  QStringList headers_;
  std::vector<SignTask> rows_;  // the list as last read, for painting
};

}  // namespace corvane::gui

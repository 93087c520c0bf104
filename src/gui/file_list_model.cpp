#include "gui/file_list_model.h"

#include <QColor>

#include "gui/gui_texts.h"

namespace corvane::gui {

FileListModel::FileListModel(FileList& list, QStringList headers, QObject* parent)
    : QAbstractTableModel(parent), list_(list), headers_(std::move(headers)), rows_(list.Rows()) {}

int FileListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int FileListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 2; }

QVariant FileListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || static_cast<std::size_t>(index.row()) >= rows_.size()) return {};
  const SignTask& row = rows_[static_cast<std::size_t>(index.row())];
  if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
    return index.column() == 0 ? Q(row.path) : Q(row.state);
  if (role == Qt::ForegroundRole && index.column() == 1) {
    switch (row.rowState) {
      case RowState::Error:
      case RowState::VerifyFailed:
        return QColor(0xD0, 0x1F, 0x1F);
      case RowState::Warning:
      case RowState::NotSupported:
        return QColor(0xB8, 0x6E, 0x00);
      case RowState::Complete:
      case RowState::CompleteKernelMode:
        return QColor(0x27, 0x9E, 0x36);
      default:
        return {};
    }
  }
  return {};
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  return section >= 0 && section < headers_.size() ? headers_[section] : QVariant();
}

std::size_t FileListModel::Merge(const std::vector<std::string>& paths) {
  const std::size_t added = list_.Merge(paths);
  if (added) Reload();
  return added;
}

void FileListModel::Remove(std::size_t row) {
  list_.Remove({row});
  Reload();
}

void FileListModel::Clear() {
  list_.Clear();
  Reload();
}

void FileListModel::SetRow(std::size_t row, RowState state, const std::string& text) {
  list_.SetRow(row, state, text);
  if (row >= rows_.size()) return;
  rows_[row].state = text;
  rows_[row].rowState = state;
  emit dataChanged(index(static_cast<int>(row), 1), index(static_cast<int>(row), 1));
}

void FileListModel::Reload() {
  beginResetModel();
  rows_ = list_.Rows();
  endResetModel();
}

}  // namespace corvane::gui

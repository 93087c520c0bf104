// The main window's two file lists: the pickers, folders, drops, deletion and the row's
// properties.
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMimeData>
#include <QTreeView>
#include <QUrl>
#include <algorithm>

#include "base/worker_registry.h"
#include "gui/file_properties.h"
#include "gui/gui_texts.h"
#include "gui/gui_wnd.h"
#include "sign/sign_type.h"
#include "tasks/file_gathering.h"

namespace corvane::gui {
namespace {

constexpr char kSignablePatterns[] = "*.exe *.dll *.sys *.efi *.ocx *.cab *.cat *.msi *.msu";

std::vector<std::string> KeepSignable(std::vector<std::string> paths) {
  std::erase_if(paths, [](const std::string& p) { return !IsSignable(p); });
  return paths;
}

}  // namespace

QTreeView* CGuiWnd::CurrentView() { return IsSignTab() ? lstSignFile_ : lstToolFile_; }

QLabel* CGuiWnd::CurrentMessageLine() { return IsSignTab() ? lbGlobalErr_ : lbTipInfo_; }

void CGuiWnd::ClearMessages() {
  lbGlobalErr_->clear();
  lbTipInfo_->clear();
}

void CGuiWnd::UpdateHints() {
  lbAddSignFileTip_->setVisible(signModel_->rows().empty());
  lbAddToolFileTip_->setVisible(toolModel_->rows().empty());
}

void CGuiWnd::MergeIntoList(const std::vector<std::string>& paths, bool toSignList) {
  FileListModel& model = toSignList ? *signModel_ : *toolModel_;
  model.Merge(paths);
  if (paths.empty()) return;
  if ((toSignList && currentTab_ == kTabSign) || (!toSignList && currentTab_ == kTabTool)) {
    QTreeView* view = toSignList ? lstSignFile_ : lstToolFile_;
    if (model.rowCount() > 0) view->setCurrentIndex(model.index(0, 0));
  }
  UpdateHints();
}

bool CGuiWnd::RefuseWholeDrive(const std::string& path) {
  if (!IsWholeDrive(path)) return false;
  CurrentMessageLine()->setText(T("UiGloErrNoSupAll"));
  return true;
}

void CGuiWnd::AddFiles(bool toSignList) {
  ClearMessages();
  if (!options_.services.pickFiles) return;
  const QStringList chosen =
      toSignList ? options_.services.pickFiles(this, T("UiAddFileFilter"), kSignablePatterns)
                 : options_.services.pickFiles(this, QStringLiteral("(*.*)"), QStringLiteral("*"));
  std::vector<std::string> paths;
  for (const QString& p : chosen) paths.push_back(U(p));
  MergeIntoList(paths, toSignList);
}

void CGuiWnd::AddFolder(bool toSignList) {
  ClearMessages();
  if (!options_.services.pickFolder) return;
  const QString folder = options_.services.pickFolder(this, T("UiAddFolderTitle"));
  if (folder.isEmpty() || RefuseWholeDrive(U(folder))) return;
  std::vector<std::string> files = WalkFolder(U(folder));
  MergeIntoList(toSignList ? KeepSignable(std::move(files)) : files, toSignList);
}

void CGuiWnd::DropPaths(const QStringList& dropped) {
  if (currentTab_ != kTabSign && currentTab_ != kTabTool) return;
  if ((IsSignTab() && Workers().IsBusy(WorkerKind::SignVerify)) ||
      (currentTab_ == kTabTool && Workers().IsBusy(WorkerKind::Tool)))
    return;
  ClearMessages();
  std::vector<std::string> gathered;
  for (const QString& name : dropped) {
    const std::string path = U(name);
    if (IsDirectoryForDrop(path)) {
      if (RefuseWholeDrive(path)) return;  // nothing of the whole drop is listed
      std::vector<std::string> files = WalkFolder(path);
      gathered.insert(gathered.end(), files.begin(), files.end());
    } else {
      gathered.push_back(path);
    }
  }
  MergeIntoList(IsSignTab() ? KeepSignable(std::move(gathered)) : gathered, IsSignTab());
}

void CGuiWnd::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls() && (currentTab_ == kTabSign || currentTab_ == kTabTool))
    event->acceptProposedAction();
}

void CGuiWnd::dropEvent(QDropEvent* event) {
  QStringList paths;
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) paths << url.toLocalFile();
  DropPaths(paths);
  event->acceptProposedAction();
}

void CGuiWnd::DeleteRows(bool all) {
  ClearMessages();
  if (currentTab_ != kTabSign && currentTab_ != kTabTool) return;
  FileListModel& model = CurrentList();
  QTreeView* view = CurrentView();
  if (model.rows().empty()) return;
  if (all) {
    model.Clear();
  } else {
    int first = -1;
    for (const QModelIndex& index : view->selectionModel()->selectedRows())
      if (first < 0 || index.row() < first) first = index.row();
    if (first < 0) return;
    model.Remove(static_cast<std::size_t>(first));
    const int count = model.rowCount();
    if (count > 0) {
      const QModelIndex next = model.index(std::min(first, count - 1), 0);
      view->selectionModel()->setCurrentIndex(
          next, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
  }
  UpdateHints();
}

void CGuiWnd::ShowFileProperties() {
  if (currentTab_ != kTabSign && currentTab_ != kTabTool) return;
  QTreeView* view = CurrentView();
  const QModelIndexList selected = view->selectionModel()->selectedRows();
  if (selected.isEmpty()) return;
  const std::size_t row = static_cast<std::size_t>(selected.first().row());
  if (row >= CurrentList().rows().size()) return;
  const std::string path = CurrentList().rows()[row].path;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const VerifyReport report = VerifyTrust(path);
  QApplication::restoreOverrideCursor();
  FilePropertiesDialog dialog(Q(path), report, this);
  dialog.exec();
}

}  // namespace corvane::gui

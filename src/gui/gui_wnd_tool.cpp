// The CAB/CAT tab's runs: the engine's cabinet and catalog runs on the CAB/CAT worker, their
// rows and controls brought to the window, the save dialog and "Create and Sign".
#include <QAbstractButton>
#include <QLabel>
#include <QTreeView>

#include "base/run_log.h"
#include "base/worker_registry.h"
#include "gui/gui_texts.h"
#include "gui/gui_wnd.h"
#include "gui/skin_loader.h"

namespace corvane::gui {

void CGuiWnd::StartToolRun(ToolMode mode) {
  // The buttons are disabled or hidden while a tool run goes on.
  if (Workers().IsBusy(WorkerKind::Tool)) return;
  toolMode_ = mode;
  lbTipInfo_->clear();
  if (!corvane::StartToolRun(Workers(), mode, toolRows_.Paths(), MainTexts(), *toolBridge_) &&
      !Workers().IsBusy(WorkerKind::Tool)) {
    toolMode_.reset();
    LogError("%s, %s", mode == ToolMode::Cabinet ? "CGuiWnd::StartCabRun" : "CGuiWnd::StartCatRun",
             "undefined");
    SetMessage(T("UiStateUnknownErr"));
  }
}

void CGuiWnd::EnableToolControls(bool on) {
  for (const char* name : {"btToolAdd", "btToolAddFolder", "btToolDel", "btToolDelAll"})
    Control<QWidget>(root_, name)->setEnabled(on);
  EnableGenButtons(on);
  lstToolFile_->viewport()->setAttribute(Qt::WA_TransparentForMouseEvents, !on);
}

void CGuiWnd::EnableGenButtons(bool on) {
  QWidget* cab = Control<QWidget>(root_, "btGenCab");
  QWidget* cat = Control<QWidget>(root_, "btGenCat");
  cab->setEnabled(on);
  cat->setEnabled(on);
  if (on) {
    cab->show();
    cat->show();
  } else if (toolMode_ == ToolMode::Cabinet) {
    cat->hide();
  } else if (toolMode_ == ToolMode::Catalog) {
    cab->hide();
  }
}

std::optional<QString> CGuiWnd::SaveProductAs(ToolMode mode) {
  if (!options_.services.saveFile) return std::nullopt;
  const bool cabinet = mode == ToolMode::Cabinet;
  QString path = options_.services.saveFile(
      this, cabinet ? QStringLiteral("Cab (*.cab)") : QStringLiteral("Cat (*.cat)"),
      cabinet ? QStringLiteral("cab") : QStringLiteral("cat"));
  if (path.isEmpty()) return std::nullopt;
  return path;
}

void CGuiWnd::HandToSignList(const QString& product) {
  SelectTab(kTabSign);
  MergeIntoList({U(product)}, true);
  EnableToolControls(true);
}

}  // namespace corvane::gui

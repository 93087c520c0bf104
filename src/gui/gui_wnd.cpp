#include "gui/gui_wnd.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeView>
#include <QWindow>

#include "base/worker_registry.h"
#include "gui/cert_tool.h"
#include "gui/csr_tool.h"
#include "gui/feedback_wnd.h"
#include "gui/gui_texts.h"
#include "gui/skin_loader.h"
#include "gui/timestamp_hosts_wnd.h"
#include "gui/tip_wnd.h"
#include "gui/ver_wnd.h"
#include "net/timestamp_setting.h"

namespace corvane::gui {
namespace {

constexpr int kCaptionHeight = 50;
constexpr int kCloseTickMs = 300;

QStringList Headers(QTreeView* view) {
  return {view->property("headerFile").toString(), view->property("headerStatus").toString()};
}

}  // namespace

CGuiWnd::CGuiWnd(GuiOptions options)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint),
      options_(std::move(options)),
      signRows_(MainTexts().Get("UiTaskStateWait")),
      toolRows_(MainTexts().Get("UiTaskStateWait")) {
  setObjectName(QStringLiteral("CGuiWnd"));
  root_ = LoadSkin(QStringLiteral("BrindleClientGui"), this);
  if (!root_) FailOnBrokenSkin();
  setFixedSize(root_->size());
  setWindowTitle(T("title"));
  session_ = std::make_unique<SigningSession>(Workers(), counters_, MainTexts());
  RunAnswers answers;
  answers.showTip = [this](const QString& text) { ShowTip(text); };
  answers.chooseCrossCert = [this](const ChainList& chain) { return RunCrossCertWnd(chain); };
  answers.askPin = [this](const QString& label) { return AskPin(label); };
  signBridge_ = new RunBridge(std::move(answers), this);
  RunAnswers toolAnswers;
  toolAnswers.chooseDestination = [this](ToolMode mode) { return SaveProductAs(mode); };
  toolAnswers.createAndSignSelected = [this] { return opAddSignList_->isChecked(); };
  toolAnswers.addToSignList = [this](const QString& product) { HandToSignList(product); };
  toolBridge_ = new RunBridge(std::move(toolAnswers), this);
  FindControls();
  ConnectNotifications();
  InitWindow();
}

CGuiWnd::~CGuiWnd() {
  // The workers hold this window; a window torn down without its close rule (a test's end)
  // still waits for them.
  if (Workers().IsAnyWorkerRunning()) {
    Workers().RequestStop();
    while (Workers().IsAnyWorkerRunning()) QApplication::processEvents(QEventLoop::AllEvents, 50);
  }
}

void CGuiWnd::FindControls() {
  txtDbg_ = Control<QLabel>(root_, "txtDbg");
  edCert_ = Control<QLineEdit>(root_, "edCert");
  edPswd_ = Control<QLineEdit>(root_, "edPswd");
  lbPswd_ = Control<QLabel>(root_, "lbPswd");
  lbGlobalErr_ = Control<QLabel>(root_, "lbGlobalErr");
  lbTipInfo_ = Control<QLabel>(root_, "lbTipInfo");
  lstSignFile_ = Control<QTreeView>(root_, "lstSignFile");
  lstToolFile_ = Control<QTreeView>(root_, "lstToolFile");
  lbAddSignFileTip_ = Control<QLabel>(root_, "lbAddSignFileTip");
  lbAddToolFileTip_ = Control<QLabel>(root_, "lbAddToolFileTip");
  pbSignProgress_ = Control<QProgressBar>(root_, "pbSignProgress");
  opReplace_ = Control<QAbstractButton>(root_, "opReplace");
  opAppendSig_ = Control<QAbstractButton>(root_, "opAppendSig");
  opGenrlSign_ = Control<QAbstractButton>(root_, "opGenrlSign");
  opKernelSign_ = Control<QAbstractButton>(root_, "opKernelSign");
  opAddSignList_ = Control<QAbstractButton>(root_, "opAddSignList");
  btShowCert_ = Control<QPushButton>(root_, "btShowCert");
  btCheckVer_ = Control<QPushButton>(root_, "btCheckVer");
  for (const char* name :
       {"btTabSign", "btTabCSROper", "btTabCertOper", "btTabCabPack", "btTabSetting"})
    tabButtons_.push_back(Control<QPushButton>(root_, name));
  for (const char* name : {"ctSign", "ctCSR", "ctCert", "ctTool", "ctSetting"})
    tabContainers_.push_back(Control<QWidget>(root_, name));
  for (const char* name :
       {"btMin",           "btClose",     "btLogo",          "btSelPfx",  "btSelStoreCert",
        "btAdd",           "btAddFolder", "btDel",           "btDelAll",  "btExe",
        "btVerify",        "btToolAdd",   "btToolAddFolder", "btToolDel", "btToolDelAll",
        "btGenCab",        "btGenCat",    "btForum",         "btHelp",    "btBuyCert",
        "btTimestampHosts"})
    Control<QPushButton>(root_, name);
  for (const char* name : {"opAddPosix", "edPosix", "ctCaption"}) Control<QWidget>(root_, name);

  // The two option groups of the layout, "outName" and "signMode".
  auto* outName = new QButtonGroup(this);
  outName->addButton(opReplace_);
  outName->addButton(Control<QAbstractButton>(root_, "opAddPosix"));
  auto* signMode = new QButtonGroup(this);
  signMode->addButton(opGenrlSign_);
  signMode->addButton(opKernelSign_);

  signModel_ = new FileListModel(signRows_, Headers(lstSignFile_), this);
  toolModel_ = new FileListModel(toolRows_, Headers(lstToolFile_), this);
  for (auto [view, model] : {std::pair{lstSignFile_, signModel_}, {lstToolFile_, toolModel_}}) {
    view->setModel(model);
    view->header()->setStretchLastSection(false);
    view->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    view->header()->resizeSection(1, 300);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  }
}

void CGuiWnd::ConnectNotifications() {
  for (QAbstractButton* button : root_->findChildren<QAbstractButton*>()) {
    if (!button->inherits("QPushButton")) continue;
    const QString name = button->objectName();
    connect(button, &QAbstractButton::clicked, this, [this, name] { Notify("click", name); });
  }
  for (QTreeView* view : {lstSignFile_, lstToolFile_}) {
    const QString name = view->objectName();
    connect(view, &QAbstractItemView::doubleClicked, this,
            [this, name](const QModelIndex&) { Notify("itemactivate", name); });
    view->viewport()->installEventFilter(this);
  }
  for (QWidget* w : std::initializer_list<QWidget*>{lbAddSignFileTip_, lbAddToolFileTip_,
                                                    Control<QWidget>(root_, "ctCaption"),
                                                    Control<QWidget>(root_, "lbCaption")})
    w->installEventFilter(this);
  qApp->installEventFilter(this);

  connect(signBridge_, &RunBridge::runStarted, this, [this] {
    EnableSignControls(false);
    runRows_ = signModel_->rows().size();
    runDone_ = 0;
    pbSignProgress_->setRange(0, static_cast<int>(std::max<std::size_t>(runRows_, 1)));
    pbSignProgress_->setValue(0);
    pbSignProgress_->setVisible(runRows_ > 0);
  });
  connect(signBridge_, &RunBridge::runEnded, this, [this] {
    EnableSignControls(true);
    pbSignProgress_->hide();
    emit signRunFinished();
  });
  connect(signBridge_, &RunBridge::fileLoopEntered, this, [this] {
    opAddSignList_->setEnabled(false);
    opAddSignList_->setChecked(false);
  });
  connect(signBridge_, &RunBridge::fileLoopLeft, this, [this] {
    opAddSignList_->setEnabled(true);
    opAddSignList_->setChecked(true);
  });
  connect(signBridge_, &RunBridge::rowChanged, this, &CGuiWnd::OnSignRowChanged);
  connect(signBridge_, &RunBridge::messageSet, this, &CGuiWnd::SetMessage);
  connect(signBridge_, &RunBridge::messageCleared, lbGlobalErr_, &QLabel::clear);

  connect(toolBridge_, &RunBridge::runStarted, this, [this] { EnableToolControls(false); });
  connect(toolBridge_, &RunBridge::runEnded, this, [this] {
    EnableToolControls(true);
    toolMode_.reset();
  });
  connect(toolBridge_, &RunBridge::rowChanged, this,
          [this](qulonglong row, RowState state, const QString& text) {
            toolModel_->SetRow(row, state, U(text));
          });
  connect(toolBridge_, &RunBridge::messageSet, this, &CGuiWnd::SetMessage);
  connect(toolBridge_, &RunBridge::messageCleared, lbGlobalErr_, &QLabel::clear);
  connect(toolBridge_, &RunBridge::tipInfoSet, lbTipInfo_, &QLabel::setText);

  closeTimer_.setInterval(kCloseTickMs);
  connect(&closeTimer_, &QTimer::timeout, this, &CGuiWnd::OnCloseTick);
}

void CGuiWnd::InitWindow() {
  txtDbg_->setText(QStringLiteral("initialized"));
  csrTool_ = new CCSRTool(options_.services, options_.pkcs11Modules, tabContainers_[kTabCsr]);
  certTool_ = new CCertTool(options_.services, options_.pkcs11Modules, tabContainers_[kTabCert]);
  ApplyTimestampHostsSetting();
  lbGlobalErr_->clear();
  SelectTab(kTabSign);
  txtDbg_->hide();
  edCert_->setText(T("UiEdtCert"));
  edCert_->setEnabled(false);
  opReplace_->setChecked(true);
  opGenrlSign_->setChecked(true);
  opAddSignList_->setChecked(true);
  Control<QWidget>(root_, "btVerify")->hide();
  UpdateHints();
  if (options_.startBackgroundWorkers) StartBackgroundWorkers();
}

void CGuiWnd::SelectTab(int tab) {
  currentTab_ = tab;
  if (tab < 0 || tab > kTabTool) return;
  setAcceptDrops(tab == kTabSign || tab == kTabTool);
  for (int i = 0; i < static_cast<int>(tabContainers_.size()); ++i)
    tabContainers_[static_cast<std::size_t>(i)]->setVisible(i == tab);
  for (int i = 0; i <= kTabTool; ++i) {
    tabButtons_[static_cast<std::size_t>(i)]->setStyleSheet(
        i == tab ? QStringLiteral("background-color: rgba(0, 255, 0, 255);")
                 : QStringLiteral("background-color: rgba(0, 255, 0, 0);"));
  }
}

void CGuiWnd::Notify(const QString& type, const QString& sender) {
  txtDbg_->setText(txtDbg_->text() +
                   QStringLiteral("\nNotify(msg.sType = %1, ctl = %2").arg(type, sender));
  if (type == "click") {
    OnClick(sender);
  } else if (type == "dbclick") {
    if (sender == "lstSignFile" || sender == "lbAddSignFileTip") AddFiles(true);
    if (sender == "lstToolFile" || sender == "lbAddToolFileTip") AddFiles(false);
  } else if (type == "itemactivate") {
    ShowFileProperties();
  }
}

void CGuiWnd::OnClick(const QString& s) {
  if (s == "btClose") {
    close();
  } else if (s == "btMin") {
    showMinimized();
  } else if (s == "btLogo") {
    OpenLink("WebSiteHome", "otherLink");
  } else if (s == "btTabSign") {
    SelectTab(kTabSign);
  } else if (s == "btTabCSROper") {
    SelectTab(kTabCsr);
  } else if (s == "btTabCertOper") {
    SelectTab(kTabCert);
  } else if (s == "btTabCabPack") {
    SelectTab(kTabTool);
  } else if (s == "btTabSetting") {
    SelectTab(kTabSetting);
  } else if (s == "btSelPfx") {
    ChoosePfx();
  } else if (s == "btSelStoreCert") {
    StartStoreChoice();
  } else if (s == "btShowCert") {
    StartCertView();
  } else if (s == "btAdd" || s == "btToolAdd") {
    AddFiles(s == "btAdd");
  } else if (s == "btAddFolder" || s == "btToolAddFolder") {
    AddFolder(s == "btAddFolder");
  } else if (s == "btDel" || s == "btToolDel") {
    DeleteRows(false);
  } else if (s == "btDelAll" || s == "btToolDelAll") {
    DeleteRows(true);
  } else if (s == "btExe") {
    StartSignRun();
  } else if (s == "btGenCab") {
    StartToolRun(ToolMode::Cabinet);
  } else if (s == "btGenCat") {
    StartToolRun(ToolMode::Catalog);
  } else if (s == "btVerify") {
    StartVerifyRun();
  } else if (s == "btTimestampHosts") {
    TimestampHostsWnd wnd(this);
    wnd.exec();
  } else if (s == "btHelp") {
    OpenLink("WebSiteHelp", "otherLink");
  } else if (s == "btBuyCert") {
    OpenLink("WebSiteBuy", "buyLink");
  } else if (s == "btCheckVer") {
    OpenVerWnd(this, updateStatus_);
  } else if (s == "btForum") {
    OpenFeedBackWnd(this, options_.services.openUrl);
  }
}

bool CGuiWnd::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress:
      return OnKey(watched, static_cast<QKeyEvent*>(event));
    case QEvent::MouseButtonDblClick:
      if (watched == lbAddSignFileTip_ || watched == lbAddToolFileTip_) {
        Notify("dbclick", watched->objectName());
        return true;
      }
      for (QTreeView* view : {lstSignFile_, lstToolFile_}) {
        if (watched != view->viewport()) continue;
        const auto* mouse = static_cast<QMouseEvent*>(event);
        // A row's double-click activates it; the empty area below the rows adds files.
        if (!view->indexAt(mouse->position().toPoint()).isValid()) {
          Notify("dbclick", view->objectName());
          return true;
        }
      }
      break;
    case QEvent::MouseButtonPress: {
      const auto* mouse = static_cast<QMouseEvent*>(event);
      if (watched->objectName() == "ctCaption" || watched->objectName() == "lbCaption") {
        if (mouse->button() == Qt::LeftButton) {
          if (windowHandle() && windowHandle()->startSystemMove()) return true;
          dragging_ = true;
          dragOffset_ = mouse->globalPosition().toPoint() - frameGeometry().topLeft();
          return true;
        }
      }
      break;
    }
    case QEvent::MouseMove:
      if (dragging_) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->buttons() & Qt::LeftButton)
          move(mouse->globalPosition().toPoint() - dragOffset_);
        else
          dragging_ = false;
        return true;
      }
      break;
    case QEvent::MouseButtonRelease:
      dragging_ = false;
      break;
    default:
      break;
  }
  return QWidget::eventFilter(watched, event);
}

bool CGuiWnd::OnKey(QObject* watched, QKeyEvent* key) {
  auto* widget = qobject_cast<QWidget*>(watched);
  if (!widget || widget->window() != this) return false;
  if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) return true;
  if ((key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) &&
      (key->modifiers() & Qt::ControlModifier)) {
    SelectTab(currentTab_ >= kTabTool || currentTab_ < 0 ? kTabSign : currentTab_ + 1);
    return true;
  }
  if (key->key() == Qt::Key_Delete) {
    if (currentTab_ != kTabSign && currentTab_ != kTabTool) return false;
    QTreeView* view = CurrentView();
    const WorkerKind worker = IsSignTab() ? WorkerKind::SignVerify : WorkerKind::Tool;
    if ((widget == view || widget == view->viewport()) && !Workers().IsBusy(worker))
      DeleteRows(false);
    return true;
  }
  return false;
}

bool CGuiWnd::ShowTip(const QString& text) {
  TipWnd tip(text, this);
  tip.setWindowTitle(T("UiTipWndTitle"));
  return tip.exec() == 1;
}

void CGuiWnd::ShowClosingTip(const QString& text) {
  auto* tip = new TipWnd(text, this);
  tip->setWindowTitle(T("UiTipWndTitle"));
  tip->setObjectName(QStringLiteral("ClosingTip"));
  tip->MakeClosingPrompt();
  tip->setAttribute(Qt::WA_DeleteOnClose);
  tip->setWindowModality(Qt::ApplicationModal);
  closingTip_ = tip;
  tip->show();
}

void CGuiWnd::closeEvent(QCloseEvent* event) {
  if (!Workers().IsAnyWorkerRunning()) {
    closeTimer_.stop();
    if (closingTip_) closingTip_->close();
    event->accept();
    return;
  }
  Workers().RequestStop();
  if (!closeTimer_.isActive()) closeTimer_.start();
  if (!closingTip_) ShowClosingTip(T("UiGloExcutingAutoClose"));
  event->ignore();
}

void CGuiWnd::OnCloseTick() {
  if (Workers().IsAnyWorkerRunning()) return;
  closeTimer_.stop();
  close();
}

void CGuiWnd::OpenLink(const char* urlKey, const char* counter) {
  if (options_.services.openUrl) options_.services.openUrl(T(urlKey));
  counters_.Add(counter);
}

void CGuiWnd::SetMessage(const QString& text) { lbGlobalErr_->setText(text); }

}  // namespace corvane::gui

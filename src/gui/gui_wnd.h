// The main window: a frameless 950 × 700 window built from the layout "BrindleClientGui",
// its controls found by name, their notifications dispatched by the sender's name. It holds
// the two file lists (as item models over the rows it owns) and the certificate choice, and
// drives the engine's runs on registered workers; the signing logic is the engine's.
#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <optional>

#include "gui/file_list_model.h"
#include "gui/platform_services.h"
#include "gui/run_bridge.h"
#include "net/usage_reporters.h"
#include "net/version_update.h"
#include "tasks/file_list.h"
#include "tasks/signing_session.h"

class QAbstractButton;
class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTreeView;

namespace corvane::gui {

class CCertTool;
class CCSRTool;
class TipWnd;

struct GuiOptions {
  PlatformServices services = DesktopServices();
  bool startBackgroundWorkers = true;
  // The PKCS #11 modules of the user's store; empty: the configured ones.
  std::vector<std::string> pkcs11Modules;
};

class CGuiWnd : public QWidget {
  Q_OBJECT

 public:
  explicit CGuiWnd(GuiOptions options = {});
  ~CGuiWnd() override;

  enum Tab { kTabSign = 0, kTabCsr = 1, kTabCert = 2, kTabTool = 3, kTabSetting = 4 };
  void SelectTab(int tab);
  int currentTab() const { return currentTab_; }

  // A modal prompt; true when closed with OK.
  bool ShowTip(const QString& text);
  // The prompt without buttons shown while the window waits for its workers to end.
  void ShowClosingTip(const QString& text);

  FileListModel& signList() { return *signModel_; }
  FileListModel& toolList() { return *toolModel_; }
  SigningSession& session() { return *session_; }
  UsageCounters& counters() { return counters_; }
  CCSRTool& csrTool() { return *csrTool_; }
  CCertTool& certTool() { return *certTool_; }

  // The list actions (Part of the window's notifications; public for the drop handler).
  void AddFiles(bool signList);
  void AddFolder(bool signList);
  void DropPaths(const QStringList& paths);
  void DeleteRows(bool all);

 signals:
  // The run of the signing tab has ended (controls are on again).
  void signRunFinished();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void FindControls();
  void InitWindow();
  void ConnectNotifications();
  void Notify(const QString& type, const QString& sender);
  void OnClick(const QString& sender);
  bool OnKey(QObject* watched, QKeyEvent* key);

  // Lists.
  bool IsSignTab() const { return currentTab_ == kTabSign; }
  FileListModel& CurrentList() { return IsSignTab() ? *signModel_ : *toolModel_; }
  QTreeView* CurrentView();
  QLabel* CurrentMessageLine();
  void ClearMessages();
  void MergeIntoList(const std::vector<std::string>& paths, bool signList);
  bool RefuseWholeDrive(const std::string& path);
  void UpdateHints();
  void ShowFileProperties();

  // The certificate choice.
  void ChoosePfx();
  void StartStoreChoice();
  void StartCertView();
  std::shared_ptr<KeyStore> OpenKeyStore();

  // The signing tab's runs.
  SignRunSettings CurrentSettings() const;
  void StartSignRun();
  void StartVerifyRun();
  void EnableSignControls(bool on);
  void OnSignRowChanged(qulonglong row, RowState state, const QString& text);
  QString RunCrossCertWnd(const ChainList& chain);
  std::optional<QString> AskPin(const QString& tokenLabel);
  void SetMessage(const QString& text);

  // The CAB/CAT tab's runs.
  void StartToolRun(ToolMode mode);
  void EnableToolControls(bool on);
  void EnableGenButtons(bool on);
  std::optional<QString> SaveProductAs(ToolMode mode);
  void HandToSignList(const QString& product);

  // Background workers and links.
  void StartBackgroundWorkers();
  void OpenLink(const char* urlKey, const char* counter);

  // The close rule.
  void OnCloseTick();

  GuiOptions options_;
  QWidget* root_ = nullptr;
  int currentTab_ = kTabSign;
  QPoint dragOffset_;
  bool dragging_ = false;

  // Controls by name.
  QLabel* txtDbg_ = nullptr;
  QLineEdit* edCert_ = nullptr;
  QLineEdit* edPswd_ = nullptr;
  QLabel* lbPswd_ = nullptr;
  QLabel* lbGlobalErr_ = nullptr;
  QLabel* lbTipInfo_ = nullptr;
  QTreeView* lstSignFile_ = nullptr;
  QTreeView* lstToolFile_ = nullptr;
  QLabel* lbAddSignFileTip_ = nullptr;
  QLabel* lbAddToolFileTip_ = nullptr;
  QProgressBar* pbSignProgress_ = nullptr;
  QAbstractButton* opReplace_ = nullptr;
  QAbstractButton* opAppendSig_ = nullptr;
  QAbstractButton* opGenrlSign_ = nullptr;
  QAbstractButton* opKernelSign_ = nullptr;
  QAbstractButton* opAddSignList_ = nullptr;
  QPushButton* btShowCert_ = nullptr;
  QPushButton* btCheckVer_ = nullptr;
  std::vector<QPushButton*> tabButtons_;
  std::vector<QWidget*> tabContainers_;
  CCSRTool* csrTool_ = nullptr;
  CCertTool* certTool_ = nullptr;

  // State.
  UsageCounters counters_;
  FileList signRows_;
  FileList toolRows_;
  FileListModel* signModel_ = nullptr;
  FileListModel* toolModel_ = nullptr;
  std::unique_ptr<SigningSession> session_;
  RunBridge* signBridge_ = nullptr;
  RunBridge* toolBridge_ = nullptr;
  std::optional<ToolMode> toolMode_;  // the tool the last button asked for, while it runs
  std::shared_ptr<KeyStore> keyStore_;
  UpdateStatus updateStatus_;
  std::size_t runRows_ = 0;
  std::size_t runDone_ = 0;

  QTimer closeTimer_;
  QPointer<TipWnd> closingTip_;
};

}  // namespace corvane::gui

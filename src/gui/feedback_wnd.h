// The feedback window: an error report or a suggestion with an optional contact, sent with the
// run log's last error lines to the log server. Validation, the body and the exchange are the
// engine's (net/feedback.h); the submission runs on the registry's feedback worker, and the
// forum link's clicks are reported by the engine's click reporter.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <stop_token>

#include "gui/tip_wnd.h"

class QAbstractButton;
class QTimer;
class QLineEdit;
class QTextEdit;

namespace corvane {
class FeedbackSession;
class ForumClickReporter;
class SkinTexts;
}  // namespace corvane

namespace corvane::gui {

struct FeedbackWndOptions {
  std::function<void(const QString& url)> openUrl;
  // How often the forum clicks are reported.
  std::chrono::milliseconds clickReportPeriod{5000};
};

class FeedBackWnd : public SkinDialog {
  Q_OBJECT

 public:
  static constexpr int kDescLimit = 3000;
  static constexpr int kEmailLimit = 100;
  static constexpr int kDotsIntervalMs = 500;

  FeedBackWnd(FeedbackWndOptions options, QWidget* owner);
  ~FeedBackWnd() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void SubmitClicked();
  void Submit();
  void Sending();
  void Finished(const QString& key, const QString& colour, bool sent);
  void ShowPrompt(const QString& key, const QString& colour);
  void EnableInput(bool on);
  void DescFocus(bool in);
  void EmailFocus(bool in);
  void PutDescPrompt();
  void SetTextColour(QWidget* edit, bool placeholder);
  void DotsTick();
  void ForumClicked();

  FeedbackWndOptions options_;
  std::shared_ptr<FeedbackSession> session_;
  std::unique_ptr<ForumClickReporter> reporter_;
  std::shared_ptr<std::stop_source> stop_;
  QString submitCaption_;
  QTimer* dots_;  // the "submitting" dots, every 500 ms
  int dotCount_ = 0;
  QString prompt_;

  QAbstractButton* opError_;
  QAbstractButton* opAdvice_;
  QTextEdit* edtDesc_;
  QLineEdit* edtEmail_;
  QLabel* txtPrompts_;
  QPushButton* btnSubmit_;
  QPushButton* btnFeedbackForum_;
  QPushButton* btClose_;
};

// The main window's "feedback" button: the feedback window, modal over `owner`.
void OpenFeedBackWnd(QWidget* owner, std::function<void(const QString& url)> openUrl);

}  // namespace corvane::gui

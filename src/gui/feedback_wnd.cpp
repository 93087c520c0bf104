#include "gui/feedback_wnd.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>

#include "base/run_log.h"
#include "base/window_keys.h"
#include "base/worker_registry.h"
#include "gui/gui_texts.h"
#include "gui/skin_loader.h"
#include "net/communicator.h"
#include "net/feedback.h"
#include "net/server_hosts.h"
#include "net/usage_reporters.h"

namespace corvane::gui {
namespace {

const SkinTexts& FeedbackTexts() {
  static const SkinTexts texts = GetSkinLan(kFeedbackWndOwner, kFeedbackWndKeys);
  return texts;
}
QString FT(std::string_view key) { return Q(FeedbackTexts().Get(key)); }

// The skin's colours are ARGB with the alpha byte first; Qt takes the last six digits.
QString Rgb(const char* skinColour) {
  return QStringLiteral("#") + QString::fromLatin1(skinColour).right(6);
}
QString Rgb(const QString& skinColour) { return QStringLiteral("#") + skinColour.right(6); }

constexpr const char* kPlaceholderColour = "#8C8C8C";
constexpr const char* kTypedColour = "#000000";

template <typename F>
void OnUiThread(F&& f) {
  QMetaObject::invokeMethod(qApp, std::forward<F>(f), Qt::QueuedConnection);
}

bool IsDescPrompt(const std::string& trimmed) {
  return trimmed == FeedbackTexts().Get("PromptsErrDescDefault") ||
         trimmed == FeedbackTexts().Get("PromptsAdviceDescDefault");
}

}  // namespace

FeedBackWnd::FeedBackWnd(FeedbackWndOptions options, QWidget* owner)
    : SkinDialog(QStringLiteral("FeedBackWnd"), T("UiFeedbackWndTitle"), owner),
      options_(std::move(options)),
      stop_(std::make_shared<std::stop_source>()),
      opError_(Control<QAbstractButton>(root(), "opError")),
      opAdvice_(Control<QAbstractButton>(root(), "opAdvice")),
      edtDesc_(Control<QTextEdit>(root(), "edtDesc")),
      edtEmail_(Control<QLineEdit>(root(), "edtEmail")),
      txtPrompts_(Control<QLabel>(root(), "txtPrompts")),
      btnSubmit_(Control<QPushButton>(root(), "btnSubmit")),
      btnFeedbackForum_(Control<QPushButton>(root(), "btnFeedbackForum")),
      btClose_(Control<QPushButton>(root(), "btClose")) {
  setObjectName(QStringLiteral("FeedBackWnd"));
  Control<QLabel>(root(), "txtType");
  Control<QLabel>(root(), "txtEmail");
  Control<QLabel>(root(), "title")->setText(windowTitle());
  for (QPushButton* button : root()->findChildren<QPushButton*>()) button->setAutoDefault(false);

  // "GroupFeedbackType".
  auto* group = new QButtonGroup(this);
  group->addButton(opError_);
  group->addButton(opAdvice_);
  opError_->setChecked(true);
  edtDesc_->setAcceptRichText(false);
  edtDesc_->setPlainText(FT("PromptsErrDescDefault"));
  SetTextColour(edtDesc_, true);
  edtEmail_->setText(FT("EmailHelpTip"));
  SetTextColour(edtEmail_, true);
  edtEmail_->setMaxLength(kEmailLimit);
  btnFeedbackForum_->setToolTip(FT("ForumHelpTip"));
  submitCaption_ = btnSubmit_->text();
  EnableInput(true);
  txtPrompts_->clear();

  edtDesc_->installEventFilter(this);
  edtEmail_->installEventFilter(this);
  connect(edtDesc_, &QTextEdit::textChanged, this, [this] {
    const QString text = edtDesc_->toPlainText();
    if (text.size() <= kDescLimit) return;
    edtDesc_->setPlainText(text.left(kDescLimit));
    edtDesc_->moveCursor(QTextCursor::End);
  });
  connect(opError_, &QAbstractButton::clicked, this, &FeedBackWnd::PutDescPrompt);
  connect(opAdvice_, &QAbstractButton::clicked, this, &FeedBackWnd::PutDescPrompt);
  connect(btnSubmit_, &QPushButton::clicked, this, &FeedBackWnd::SubmitClicked);
  connect(btnFeedbackForum_, &QPushButton::clicked, this, &FeedBackWnd::ForumClicked);
  connect(btClose_, &QPushButton::clicked, this, [this] { done(2); });
  dots_ = new QTimer(this);
  dots_->setObjectName(QStringLiteral("submitDots"));
  dots_->setInterval(kDotsIntervalMs);
  connect(dots_, &QTimer::timeout, this, &FeedBackWnd::DotsTick);

  // The log reader starts with the session, the click reporter with its object.
  session_ = std::make_shared<FeedbackSession>(FeedbackTexts(), RunLogPath());
  reporter_ = std::make_unique<ForumClickReporter>(LogServerUrl(), options_.clickReportPeriod);
}

FeedBackWnd::~FeedBackWnd() {
  // A submission still on its way is abandoned; the reporter ends its transfer and stops.
  stop_->request_stop();
  reporter_.reset();
}

void FeedBackWnd::SetTextColour(QWidget* edit, bool placeholder) {
  edit->setStyleSheet(
      QStringLiteral("color: %1;").arg(placeholder ? kPlaceholderColour : kTypedColour));
}

void FeedBackWnd::ShowPrompt(const QString& key, const QString& colour) {
  prompt_ = FT(U(key));
  txtPrompts_->setText(prompt_);
  txtPrompts_->setStyleSheet(QStringLiteral("color: %1;").arg(Rgb(colour)));
}

void FeedBackWnd::EnableInput(bool on) {
  for (QWidget* w :
       std::initializer_list<QWidget*>{btnSubmit_, edtEmail_, edtDesc_, opAdvice_, opError_})
    w->setEnabled(on);
  btnSubmit_->setStyleSheet(on ? QStringLiteral("background-color: %1; color: %2;")
                                     .arg(Rgb("#FF00C01D"), Rgb("#00FFFFFF"))
                               : QStringLiteral("background-color: %1; color: %2;")
                                     .arg(Rgb("#FFF8F8F8"), Rgb("#00000000")));
}

void FeedBackWnd::DescFocus(bool in) {
  const std::string trimmed = TrimFeedbackText(U(edtDesc_->toPlainText()));
  if (in) {
    if (IsDescPrompt(trimmed)) edtDesc_->clear();
    SetTextColour(edtDesc_, false);
    return;
  }
  PutDescPrompt();
}

void FeedBackWnd::PutDescPrompt() {
  const std::string trimmed = TrimFeedbackText(U(edtDesc_->toPlainText()));
  if (!trimmed.empty() && !IsDescPrompt(trimmed)) {
    SetTextColour(edtDesc_, false);
    return;
  }
  edtDesc_->setPlainText(
      FT(opAdvice_->isChecked() ? "PromptsAdviceDescDefault" : "PromptsErrDescDefault"));
  SetTextColour(edtDesc_, true);
}

void FeedBackWnd::EmailFocus(bool in) {
  const std::string trimmed = TrimFeedbackText(U(edtEmail_->text()));
  const std::string& tip = FeedbackTexts().Get("EmailHelpTip");
  if (in) {
    if (trimmed == tip) edtEmail_->clear();
    SetTextColour(edtEmail_, false);
  } else if (trimmed.empty() || trimmed == tip) {
    edtEmail_->setText(Q(tip));
    SetTextColour(edtEmail_, true);
  }
}

bool FeedBackWnd::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) {
    const bool in = event->type() == QEvent::FocusIn;
    if (watched == edtDesc_) DescFocus(in);
    if (watched == edtEmail_) EmailFocus(in);
  }
  return SkinDialog::eventFilter(watched, event);
}

void FeedBackWnd::SubmitClicked() {
  if (btnSubmit_->text() == FT("BtnSubmitCaptionClose")) {
    done(1);
    return;
  }
  Submit();
}

void FeedBackWnd::Submit() {
  const std::string type = opError_->isChecked()    ? "bug"
                           : opAdvice_->isChecked() ? "advice"
                                                    : "null";
  const std::string desc = U(edtDesc_->toPlainText());
  const std::string contact = U(edtEmail_->text());
  QPointer<FeedBackWnd> self(this);
  // The body waits up to a second for the run log's error lines: not on this thread.
  const bool launched = Workers().Launch(
      WorkerKind::Feedback, [self, session = session_, stop = stop_, type, desc, contact,
                             url = LogServerUrl()](std::stop_token programStop) {
        std::stop_callback relay(programStop, [stop] { stop->request_stop(); });
        TransferStopScope transfers(stop->get_token());
        const FeedbackSession::Prepared prepared = session->Submit(type, desc, contact);
        if (!prepared.body) {
          const QString key = Q(prepared.prompt.key), colour = Q(prepared.prompt.colour);
          OnUiThread([self, key, colour] {
            if (self) self->Finished(key, colour, false);
          });
          return;
        }
        OnUiThread([self] {
          if (self) self->Sending();
        });
        const FeedbackPrompt outcome = session->SubmitThread(*prepared.body, url);
        const QString key = Q(outcome.key), colour = Q(outcome.colour);
        OnUiThread([self, key, colour] {
          if (self) self->Finished(key, colour, true);
        });
      });
  if (!launched) ShowPrompt(QStringLiteral("PromptsFailed"), QString::fromLatin1(kPromptRed));
}

void FeedBackWnd::Sending() {
  btClose_->setEnabled(false);
  ShowPrompt(QStringLiteral("PromptsSubmitting"), QString::fromLatin1(kPromptGreen));
  EnableInput(false);
  dotCount_ = 0;
  dots_->start();
}

void FeedBackWnd::DotsTick() {
  txtPrompts_->setText(prompt_ + QString(dotCount_ % 4, QLatin1Char('.')));
  ++dotCount_;
}

void FeedBackWnd::Finished(const QString& key, const QString& colour, bool sent) {
  if (sent) {
    btClose_->setEnabled(true);
    dots_->stop();
    EnableInput(true);
    btnSubmit_->setText(submitCaption_);
    if (key == "PromptsSuccess") btnSubmit_->setText(FT("BtnSubmitCaptionClose"));
  }
  ShowPrompt(key, colour);
}

void FeedBackWnd::ForumClicked() {
  if (options_.openUrl) options_.openUrl(FT("WebSiteFeedback"));
  reporter_->Click();
}

void FeedBackWnd::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Escape:
      if (btnSubmit_->isEnabled()) done(2);
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      // A line break in the description, never a default button.
      return;
    default:
      SkinDialog::keyPressEvent(event);
  }
}

void OpenFeedBackWnd(QWidget* owner, std::function<void(const QString& url)> openUrl) {
  FeedbackWndOptions options;
  options.openUrl = std::move(openUrl);
  FeedBackWnd wnd(std::move(options), owner);
  wnd.exec();
}

}  // namespace corvane::gui

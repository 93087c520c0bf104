#include "gui/cross_cert_wnd.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "cert/cross_cert.h"
#include "gui/gui_texts.h"
#include "gui/skin_loader.h"

namespace corvane::gui {

namespace {
constexpr char kCrossCertPage[] =
    "https://learn.microsoft.com/en-us/library/windows/hardware/dn170454(v=vs.85).aspx";
}

CrossCertWnd::CrossCertWnd(const ChainList& chain, std::function<QString()> pickFile,
                           std::function<void(const QString&)> openUrl, QWidget* owner)
    : SkinDialog(QStringLiteral("ImportCrossCertWnd"), T("UiImportCrossCertWndTitle"), owner),
      chain_(chain),
      lbErrTip_(Control<QLabel>(root(), "lbErrTip")),
      edCert_(Control<QLineEdit>(root(), "edCert")) {
  setObjectName(QStringLiteral("CrossCertWnd"));
  Control<QLabel>(root(), "txtUseTip")
      ->setText(QStringLiteral("      ") + Q(CrossCertTexts().Get("TipNotCorvane")));
  connect(Control<QPushButton>(root(), "btClose"), &QPushButton::clicked, this,
          [this] { done(2); });
  connect(Control<QPushButton>(root(), "btSelect"), &QPushButton::clicked, this,
          [this, pickFile = std::move(pickFile)] {
            lbErrTip_->clear();
            const QString path = pickFile();
            if (!path.isEmpty()) edCert_->setText(path);
          });
  connect(Control<QPushButton>(root(), "btDlCert"), &QPushButton::clicked, this,
          [openUrl = std::move(openUrl)] { openUrl(QString::fromLatin1(kCrossCertPage)); });
  connect(Control<QPushButton>(root(), "btSign"), &QPushButton::clicked, this,
          &CrossCertWnd::Accept);
  for (QPushButton* button : root()->findChildren<QPushButton*>()) button->setAutoDefault(false);
}

void CrossCertWnd::Accept() {
  lbErrTip_->clear();
  const std::string path = U(edCert_->text());
  const std::string refusal = CheckCrossCertChoice(path, chain_);
  if (!refusal.empty()) {
    lbErrTip_->setText(Q(CrossCertTexts().Get(refusal)));
    return;
  }
  chosen_ = edCert_->text();
  done(1);
}

void CrossCertWnd::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Escape:
      done(2);
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      done(1);  // closes without recording a path
      return;
    default:
      SkinDialog::keyPressEvent(event);
  }
}

}  // namespace corvane::gui

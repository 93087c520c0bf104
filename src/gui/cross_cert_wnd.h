// The kernel cross-certificate window: the user picks the cross-certificate of a foreign
// root; "Sign" accepts it when it matches the chain of the run's certificate.
#pragma once

#include <functional>

#include "cert/chain.h"
#include "gui/tip_wnd.h"

class QLineEdit;

namespace corvane::gui {

class CrossCertWnd : public SkinDialog {
  Q_OBJECT

 public:
  // `pickFile` is the file picker ("cer(*.cer,*.crt)"), `openUrl` opens the vendor's page.
  CrossCertWnd(const ChainList& chain, std::function<QString()> pickFile,
               std::function<void(const QString&)> openUrl, QWidget* owner);

  // The accepted path; empty unless "Sign" accepted a matching file.
  const QString& chosenPath() const { return chosen_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Accept();

  const ChainList& chain_;
  QLabel* lbErrTip_;
  QLineEdit* edCert_;
  QString chosen_;
};

}  // namespace corvane::gui

// The file properties dialog a list row opens: path, size, times, permissions, and the
// file's signatures as the verifier reports them.
#pragma once

#include <QDialog>

#include "sign/authenticode_verifier.h"

namespace corvane::gui {

class FilePropertiesDialog : public QDialog {
  Q_OBJECT

 public:
  FilePropertiesDialog(const QString& path, const VerifyReport& report, QWidget* owner);
};

}  // namespace corvane::gui

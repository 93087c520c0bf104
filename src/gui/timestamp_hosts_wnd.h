// The timestamp servers a signing run tries, in order, one per line: a small window opened from
// the bottom bar. Saving stores the list for both programs and makes it the list at once.
#pragma once

#include "gui/tip_wnd.h"

class QLabel;
class QPlainTextEdit;

namespace corvane::gui {

class TimestampHostsWnd : public SkinDialog {
  Q_OBJECT

 public:
  explicit TimestampHostsWnd(QWidget* owner);

 private:
  void Save();

  QPlainTextEdit* redTimestampHosts_;
  QLabel* lbSettingRet_;
};

}  // namespace corvane::gui

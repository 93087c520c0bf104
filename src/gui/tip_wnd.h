// The prompt window: a text with OK and ×, or, while the program closes, the text alone.
#pragma once

#include <QDialog>
#include <QPoint>

class QLabel;
class QPushButton;

namespace corvane::gui {

// Frameless dialogs built from a layout, dragged by their top 40 pixels.
class SkinDialog : public QDialog {
 public:
  SkinDialog(const QString& layout, const QString& title, QWidget* owner);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  QWidget* root() const { return root_; }

 private:
  QWidget* root_ = nullptr;
  QPoint dragOffset_;
  bool dragging_ = false;
};

class TipWnd : public SkinDialog {
  Q_OBJECT

 public:
  // Texts longer than this use the layout's smaller font.
  static constexpr int kLongText = 200;

  TipWnd(const QString& text, QWidget* owner);
  // The closing prompt: no buttons, 300 × 150.
  void MakeClosingPrompt();

 private:
  QLabel* txtTip_;
  QPushButton* btOk_;
  QPushButton* btClose_;
};

// Centres `dialog` on `owner` (on the screen without one).
void CentreOn(QWidget* dialog, QWidget* owner);

}  // namespace corvane::gui

#include "gui/tip_wnd.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>

#include "gui/skin_loader.h"

namespace corvane::gui {

void CentreOn(QWidget* dialog, QWidget* owner) {
  const QRect area = owner ? owner->frameGeometry() : dialog->screen()->availableGeometry();
  dialog->move(area.center() - QPoint(dialog->width() / 2, dialog->height() / 2));
}

SkinDialog::SkinDialog(const QString& layout, const QString& title, QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint) {
  root_ = LoadSkin(layout, this);
  if (!root_) FailOnBrokenSkin();
  setObjectName(root_->objectName());
  setWindowTitle(title);
  setFixedSize(root_->size());
  CentreOn(this, owner);
}

void SkinDialog::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && event->position().y() < 40) {
    dragging_ = true;
    dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
  }
  QDialog::mousePressEvent(event);
}

void SkinDialog::mouseMoveEvent(QMouseEvent* event) {
  if (dragging_ && (event->buttons() & Qt::LeftButton))
    move(event->globalPosition().toPoint() - dragOffset_);
  else
    dragging_ = false;
  QDialog::mouseMoveEvent(event);
}

TipWnd::TipWnd(const QString& text, QWidget* owner)
    : SkinDialog(QStringLiteral("TipWnd"), QString(), owner),
      txtTip_(Control<QLabel>(root(), "txtTip")),
      btOk_(Control<QPushButton>(root(), "btOk")),
      btClose_(Control<QPushButton>(root(), "btClose")) {
  setObjectName(QStringLiteral("TipWnd"));
  txtTip_->setText(text);
  QFont font = txtTip_->font();
  const char* size = text.size() > kLongText ? "fontSmall" : "fontLarge";
  font.setPointSize(txtTip_->property(size).toInt());
  txtTip_->setFont(font);
  connect(btOk_, &QPushButton::clicked, this, [this] { done(1); });
  connect(btClose_, &QPushButton::clicked, this, [this] { done(2); });
  btOk_->setDefault(true);
}

void TipWnd::MakeClosingPrompt() {
  btOk_->hide();
  btClose_->hide();
  setFixedSize(300, 150);
  root()->resize(300, 150);
  txtTip_->setGeometry(20, 20, 260, 110);
  txtTip_->setAlignment(Qt::AlignCenter);
  CentreOn(this, parentWidget());
}

}  // namespace corvane::gui

#include "gui/skin_loader.h"

#include <QFile>
#include <QMessageBox>
#include <QUiLoader>
#include <cstdlib>

#include "gui/gui_texts.h"

namespace corvane::gui {

QWidget* LoadSkin(const QString& name, QWidget* parent) {
  QFile file(QStringLiteral(":/skin/%1/%2.ui").arg(SkinFolder(), name));
  if (!file.open(QIODevice::ReadOnly)) return nullptr;
  QUiLoader loader;
  QWidget* root = loader.load(&file, parent);
  if (!root) return nullptr;
  if (parent) {
    // A dialog's layout is built as a dialog: embed it in the window that loads it.
    root->setWindowFlags(Qt::Widget);
    root->move(0, 0);
    root->show();
    parent->resize(root->size());
  }
  return root;
}

void FailOnBrokenSkin() {
  QMessageBox::critical(nullptr, QStringLiteral("Duilib"),
                        QString::fromUtf8("\xe5\x8a\xa0\xe8\xbd\xbd\xe8\xb5\x84\xe6\xba\x90\xe6\x96"
                                          "\x87\xe4\xbb\xb6\xe5\xa4\xb1\xe8\xb4\xa5"));
  std::exit(1);
}

}  // namespace corvane::gui

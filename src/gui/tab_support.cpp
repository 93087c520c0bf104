#include "gui/tab_support.h"

#include <QClipboard>
#include <QColor>
#include <QGuiApplication>

#include "gui/cert_dialogs.h"
#include "gui/gui_texts.h"
#include "gui/run_bridge.h"

namespace corvane::gui {
namespace {

// The colours are written #AARRGGBB; the status line shows them opaque.
QString OpaqueColour(const char* argb) {
  QColor colour(QString::fromLatin1(argb));
  colour.setAlpha(255);
  return colour.name(QColor::HexRgb);
}

}  // namespace

RunBridge* MakeTabBridge(QWidget* tab) {
  RunAnswers answers;
  answers.askPin = [tab](const QString& label) -> std::optional<QString> {
    PinDialog dialog(label, tab->window());
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.pin();
  };
  return new RunBridge(std::move(answers), tab);
}

void ShowStatus(QLabel* line, const SkinTexts& texts, const UiMessage& message) {
  if (message.key.empty()) {
    line->clear();
    return;
  }
  line->setStyleSheet(QStringLiteral("color: %1;").arg(OpaqueColour(UiColourText(message.colour))));
  line->setText(Q(texts.Get(message.key)));
}

void PaintWorkerButtons(std::initializer_list<QPushButton*> buttons, bool running) {
  for (QPushButton* button : buttons) {
    button->setEnabled(!running);
    button->setStyleSheet(
        QStringLiteral("background: %1; color: %2; font-size: 16px; font-weight: bold; "
                       "border-radius: 6px;")
            .arg(running ? QStringLiteral("#F8F8F8") : QStringLiteral("#00C01D"),
                 running ? QStringLiteral("#000000") : QStringLiteral("#FFFFFF")));
  }
}

void CopyText(const QPlainTextEdit* box) {
  const QString text = box->toPlainText();
  if (!text.isEmpty()) QGuiApplication::clipboard()->setText(text);
}

void PasteText(QPlainTextEdit* box) { box->insertPlainText(QGuiApplication::clipboard()->text()); }

}  // namespace corvane::gui

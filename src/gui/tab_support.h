// What the CSR and certificate tabs share: the status line, the worker buttons' two looks,
// the request and certificate boxes' clipboard buttons, and a control lookup inside a tab.
#pragma once

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <initializer_list>

#include "base/language.h"
#include "base/ui_message.h"
#include "gui/skin_loader.h"

namespace corvane::gui {

class RunBridge;

// Runs a tab worker's questions on the UI thread; a token's PIN is asked with the PIN dialog.
RunBridge* MakeTabBridge(QWidget* tab);

// The message's text in red or green; an empty key empties the line.
void ShowStatus(QLabel* line, const SkinTexts& texts, const UiMessage& message);

// While a worker runs its starting buttons are disabled and grey; afterwards green again.
void PaintWorkerButtons(std::initializer_list<QPushButton*> buttons, bool running);

// The clipboard buttons of a text box: copy (nothing when empty), paste at the cursor, clear.
void CopyText(const QPlainTextEdit* box);
void PasteText(QPlainTextEdit* box);

}  // namespace corvane::gui

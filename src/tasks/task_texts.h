// How outcomes become the texts a user sees: a row's state after a failure, and the message
// line after a whole run.
#pragma once

#include <exception>
#include <optional>
#include <string>

#include "base/language.h"
#include "tasks/row_state.h"

namespace corvane {

// The row text for a caught outcome: "Complete" for "succeed", otherwise the warning or
// error prefix followed by the message the status maps to (the unknown-error message for
// every text without a row of its own, composite texts included).
std::string TaskErrorText(const std::exception& outcome, const SkinTexts& texts);
// The state that text stands for: Complete, Warning (signed without a timestamp) or Error.
RowState TaskErrorState(const std::exception& outcome);

// The message line after a run: nullopt leaves it as it is, an empty text clears it.
std::optional<std::string> WorkerResultText(const std::exception& outcome, const SkinTexts& texts);

}  // namespace corvane

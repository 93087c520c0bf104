// What a run asks of the front end that started it and tells it. Every call may come from a
// worker thread; a call that returns an answer (a prompt, a choice, a PIN) blocks that worker
// until the front end answers, and no other. A front end overrides what it shows; the rest
// keep their quiet defaults.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "cert/chain.h"
#include "sign/authenticode_verifier.h"
#include "tasks/row_state.h"

namespace corvane {

class RunInteraction {
 public:
  virtual ~RunInteraction() = default;

  // The run has begun (its tab's controls go off) and has ended, whatever ended it (they
  // come on again).
  virtual void RunStarted() {}
  virtual void RunEnded() {}
  // The signing run's file loop: while inside it a product of the CAB/CAT tab is not handed
  // to the signing list ("Create and Sign" is cleared on entry and selected on leaving).
  virtual void FileLoopEntered() {}
  virtual void FileLoopLeft() {}

  // A row's new state and text, in the order the run set them.
  virtual void RowChanged(std::size_t /*row*/, RowState /*state*/, const std::string& /*text*/) {}
  // A verification run's full report for one row.
  virtual void RowVerified(std::size_t /*row*/, const VerifyReport& /*report*/) {}

  // The message line: a language text shown in red, or emptied.
  virtual void MessageSet(const std::string& /*text*/) {}
  virtual void MessageCleared() {}

  // A modal prompt; returns when the user dismissed it.
  virtual void ShowTip(const std::string& /*text*/) {}
  // The kernel cross-certificate choice for a certificate outside the authority's hierarchy:
  // the accepted file's path, empty when none was chosen.
  virtual std::string ChooseCrossCert(const ChainList& /*chain*/) { return {}; }
  // The user PIN of the named token; nullopt when the user cancelled.
  virtual std::optional<std::string> AskPin(const std::string& /*tokenLabel*/) {
    return std::nullopt;
  }
};

}  // namespace corvane

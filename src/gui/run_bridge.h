// The engine's run hooks on the window's side. Every notification becomes a queued signal, so
// a worker never touches a widget and the UI thread sees the changes in the order the worker
// made them. A hook that needs an answer (a prompt, a cross-certificate, a PIN) is answered
// by the UI thread while the asking worker, and only it, waits.
#pragma once

#include <QObject>
#include <QString>
#include <functional>

#include "gui/gui_texts.h"
#include "tasks/tool_run.h"

Q_DECLARE_METATYPE(corvane::RowState)

namespace corvane::gui {

// What the UI thread answers the questions of a run with.
struct RunAnswers {
  std::function<void(const QString& text)> showTip;
  std::function<QString(const ChainList& chain)> chooseCrossCert;
  std::function<std::optional<QString>(const QString& tokenLabel)> askPin;
  // The CAB/CAT tab's: the save dialog, "Create and Sign", the hand-off to the signing list.
  std::function<std::optional<QString>(ToolMode mode)> chooseDestination;
  std::function<bool()> createAndSignSelected;
  std::function<void(const QString& product)> addToSignList;
};

class RunBridge : public QObject, public ToolInteraction {
  Q_OBJECT

 public:
  RunBridge(RunAnswers answers, QObject* parent);

  void RunStarted() override { emit runStarted(); }
  void RunEnded() override { emit runEnded(); }
  void FileLoopEntered() override { emit fileLoopEntered(); }
  void FileLoopLeft() override { emit fileLoopLeft(); }
  void RowChanged(std::size_t row, RowState state, const std::string& text) override;
  void RowVerified(std::size_t row, const VerifyReport& report) override;
  void MessageSet(const std::string& text) override;
  void MessageCleared() override { emit messageCleared(); }
  void ShowTip(const std::string& text) override;
  std::string ChooseCrossCert(const ChainList& chain) override;
  std::optional<std::string> AskPin(const std::string& tokenLabel) override;
  std::optional<std::string> ChooseDestination(ToolMode mode) override;
  void TipInfoSet(const std::string& text) override { emit tipInfoSet(Q(text)); }
  bool CreateAndSignSelected() override;
  void AddToSignList(const std::string& product) override;

  // Runs `answer` on the UI thread and waits for it (directly when already there).
  void OnUiThread(const std::function<void()>& answer);

 signals:
  void runStarted();
  void runEnded();
  void fileLoopEntered();
  void fileLoopLeft();
  void rowChanged(qulonglong row, corvane::RowState state, const QString& text);
  void messageSet(const QString& text);
  void messageCleared();
  void tipInfoSet(const QString& text);

 private:
  RunAnswers answers_;
};

}  // namespace corvane::gui

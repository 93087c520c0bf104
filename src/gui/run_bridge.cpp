#include "gui/run_bridge.h"

#include <QCoreApplication>
#include <QThread>

#include "gui/gui_texts.h"

namespace corvane::gui {

RunBridge::RunBridge(RunAnswers answers, QObject* parent)
    : QObject(parent), answers_(std::move(answers)) {
  qRegisterMetaType<corvane::RowState>("corvane::RowState");
}

void RunBridge::RowChanged(std::size_t row, RowState state, const std::string& text) {
  emit rowChanged(row, state, Q(text));
}

void RunBridge::RowVerified(std::size_t, const VerifyReport&) {}

void RunBridge::MessageSet(const std::string& text) { emit messageSet(Q(text)); }

void RunBridge::OnUiThread(const std::function<void()>& answer) {
  if (QThread::currentThread() == thread()) {
    answer();
    return;
  }
  QMetaObject::invokeMethod(this, answer, Qt::BlockingQueuedConnection);
}

void RunBridge::ShowTip(const std::string& text) {
  if (!answers_.showTip) return;
  const QString shown = Q(text);
  OnUiThread([&] { answers_.showTip(shown); });
}

std::string RunBridge::ChooseCrossCert(const ChainList& chain) {
  if (!answers_.chooseCrossCert) return {};
  QString path;
  OnUiThread([&] { path = answers_.chooseCrossCert(chain); });
  return U(path);
}

std::optional<std::string> RunBridge::AskPin(const std::string& tokenLabel) {
  if (!answers_.askPin) return std::nullopt;
  std::optional<QString> pin;
  const QString label = Q(tokenLabel);
  OnUiThread([&] { pin = answers_.askPin(label); });
  if (!pin) return std::nullopt;
  return U(*pin);
}

std::optional<std::string> RunBridge::ChooseDestination(ToolMode mode) {
  if (!answers_.chooseDestination) return std::nullopt;
  std::optional<QString> path;
  OnUiThread([&] { path = answers_.chooseDestination(mode); });
  if (!path || path->isEmpty()) return std::nullopt;
  return U(*path);
}

bool RunBridge::CreateAndSignSelected() {
  if (!answers_.createAndSignSelected) return false;
  bool selected = false;
  OnUiThread([&] { selected = answers_.createAndSignSelected(); });
  return selected;
}

void RunBridge::AddToSignList(const std::string& product) {
  if (!answers_.addToSignList) return;
  const QString path = Q(product);
  OnUiThread([&] { answers_.addToSignList(path); });
}

}  // namespace corvane::gui

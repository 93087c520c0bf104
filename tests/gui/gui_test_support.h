// What the window tests share: a window with scripted pickers, and the answering of the
// modal windows a run opens.
#pragma once

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>

#include "gui/gui_wnd.h"

namespace corvane::test {

// The pickers answer what the test put in; the URL opener records.
struct ScriptedDesktop {
  QStringList files;
  QString file;
  QString folder;
  QStringList openedUrls;
  QString lastFilterName;
  QString saveAs;  // the save dialog's answer (empty: cancelled)
  QStringList saveFilters;

  gui::PlatformServices Services() {
    gui::PlatformServices s;
    s.pickFiles = [this](QWidget*, const QString& name, const QString&) {
      lastFilterName = name;
      return files;
    };
    s.pickFile = [this](QWidget*, const QString&) { return file; };
    s.pickFolder = [this](QWidget*, const QString&) { return folder; };
    s.saveFile = [this](QWidget*, const QString& filter, const QString&) {
      saveFilters << filter;
      return saveAs;
    };
    s.openUrl = [this](const QString& url) { openedUrls << url; };
    return s;
  }
};

// Answers each window named `objectName` once it shows, with `answer`; counts them.
class ModalAnswerer : public QObject {
 public:
  ModalAnswerer() {
    timer_.setInterval(20);
    connect(&timer_, &QTimer::timeout, this, &ModalAnswerer::Look);
    timer_.start();
  }
  void On(const QString& objectName, std::function<void(QWidget*)> answer) {
    answers_[objectName] = std::move(answer);
  }
  int seen(const QString& objectName) const {
    auto it = counts_.find(objectName);
    return it == counts_.end() ? 0 : it->second;
  }

 private:
  void Look() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (!w->isVisible() || w->property("testAnswered").toBool()) continue;
      auto it = answers_.find(w->objectName());
      if (it == answers_.end()) continue;
      w->setProperty("testAnswered", true);
      ++counts_[w->objectName()];
      QPointer<QWidget> guard(w);
      auto answer = it->second;
      QTimer::singleShot(50, this, [guard, answer] {
        if (guard) answer(guard);
      });
    }
  }

  QTimer timer_;
  std::map<QString, std::function<void(QWidget*)>> answers_;
  std::map<QString, int> counts_;
};

}  // namespace corvane::test

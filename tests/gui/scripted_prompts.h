// ScriptedPrompts: answers message boxes and file dialogs from a queue and records every request.
#pragma once

#include <QEvent>
#include <QObject>
#include <QString>
#include <QWidget>

#include <deque>
#include <functional>
#include <utility>
#include <vector>

#include "gui/job_worker.h"
#include "gui/panel.h"

namespace testing_gui {

class ScriptedPrompts : public panel::Prompts {
 public:
  struct Record {
    panel::MessageRequest request;  // for a file dialog only `text` is set: the initial path
    QString ownerCaption;           // the owner window's caption while the prompt was open
  };

  // Answers taken in order; with none queued a box answers No (Ok for an Ok box) and a file
  // dialog is cancelled, so an unexpected prompt never confirms anything.
  void QueueAnswer(panel::PromptAnswer answer) { answers_.push_back(answer); }
  void QueuePath(const QString& path) { paths_.push_back(path); }
  const std::vector<Record>& Records() const { return records_; }
  // Called while each message box is "open" (to grab the window's state).
  void OnMessage(std::function<void()> hook) { onMessage_ = std::move(hook); }

  panel::PromptAnswer Message(QWidget* owner, const panel::MessageRequest& request) override {
    records_.push_back({request, owner ? owner->windowTitle() : QString()});
    if (onMessage_) onMessage_();
    const bool okBox = request.buttons == panel::PromptButtons::Ok;
    return Next(answers_, okBox ? panel::PromptAnswer::Ok : panel::PromptAnswer::No);
  }
  QString OpenFile(QWidget*, const QString& initialPath) override { return Path(initialPath); }
  QString SaveFile(QWidget*, const QString& initialPath) override { return Path(initialPath); }

 private:
  QString Path(const QString& initialPath) {
    records_.push_back({});
    records_.back().request.text = initialPath;
    return Next(paths_, QString());  // none queued: cancelled
  }
  template <typename T>
  static T Next(std::deque<T>& queue, T otherwise) {
    if (queue.empty()) return otherwise;
    const T next = queue.front();
    queue.pop_front();
    return next;
  }

  std::deque<panel::PromptAnswer> answers_;
  std::deque<QString> paths_;
  std::vector<Record> records_;
  std::function<void()> onMessage_;
};

// Runs `act` once when the worker's end-of-job message reaches `window`, before the window
// handles it: a click that lands after the run has given its verdict.
class BeforeJobEnd : public QObject {
 public:
  BeforeJobEnd(QObject& window, std::function<void()> act) : act_(std::move(act)) {
    window.installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == panel::kJobFinishedMessage && act_) std::exchange(act_, nullptr)();
    return false;
  }

 private:
  std::function<void()> act_;
};

}  // namespace testing_gui

// ScriptedPrompts: the queue answers, the record keeps what the program asked.
#include "tests/gui/scripted_prompts.h"

#include <QWidget>

namespace testing_gui {

namespace {

panel::MessageRequest PathRequest(const QString& initialPath) {
  panel::MessageRequest request;
  request.text = initialPath;
  return request;
}

}  // namespace

panel::PromptAnswer ScriptedPrompts::Message(QWidget* owner, const panel::MessageRequest& request) {
  records_.push_back(
      {Record::Kind::Message, request, owner != nullptr ? owner->windowTitle() : QString()});
  if (onMessage_) onMessage_(owner, request);
  if (answers_.empty())
    return request.buttons == panel::PromptButtons::Ok ? panel::PromptAnswer::Ok
                                                       : panel::PromptAnswer::No;
  const panel::PromptAnswer answer = answers_.front();
  answers_.pop_front();
  return answer;
}

QString ScriptedPrompts::OpenFile(QWidget*, const QString& initialPath) {
  records_.push_back({Record::Kind::OpenFile, PathRequest(initialPath), QString()});
  return NextPath();
}

QString ScriptedPrompts::SaveFile(QWidget*, const QString& initialPath) {
  records_.push_back({Record::Kind::SaveFile, PathRequest(initialPath), QString()});
  return NextPath();
}

QString ScriptedPrompts::NextPath() {
  if (paths_.empty()) return QString();  // cancelled
  const QString path = paths_.front();
  paths_.pop_front();
  return path;
}

}  // namespace testing_gui

// WindowTest: a tool's window under test, driven through its controls by id with scripted
// prompts, with a folder for its files; both tools' tests derive from it.
#pragma once

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProcess>
#include <QTest>
#include <QUrl>

#include <memory>
#include <ostream>
#include <string>
#include <tuple>

#include "gui/panel.h"
#include "gui/window_input.h"
#include "tests/gui/scripted_prompts.h"
#include "tests/support/fault_injection.h"
#include "tests/support/test_files.h"

// Failure messages show the text, not its bytes.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace testing_gui {

using namespace testing_support;
using panel::PromptAnswer;
using panel::PromptButtons;
using panel::PromptIcon;

constexpr char kGreen[] = "#008000";
constexpr char kRed[] = "#DD0000";

// `kStatusId` is the status row's first line; the second line is the next id.
template <typename Window, int kStatusId>
class WindowTest : public ::testing::Test {
 protected:
  template <typename T = QWidget>
  T* Control(int id) {
    return window_->template findChild<T*>(panel::ControlName(id));
  }
  QString Text(int id) { return Control<QLabel>(id)->text(); }
  QString Colour(int id) { return panel::TextColour(Control(id)).name().toUpper(); }
  void Click(int id, Qt::KeyboardModifiers keys = Qt::NoModifier) {
    QTest::mouseClick(Control(id), Qt::LeftButton, keys);
  }
  std::string File(const char* name) { return dir_.File(name); }
  void Choose(int id, const std::string& path) {
    prompts_.QueuePath(QString::fromStdString(path));
    Click(id);
  }
  QString Status() { return Text(kStatusId) + " | " + Text(kStatusId + 1); }
  void SaveArtifact(const char* name) {
    QDir().mkpath(AESSUITE_ARTIFACT_DIR);
    EXPECT_TRUE(window_->grab().save(QStringLiteral(AESSUITE_ARTIFACT_DIR "/") + name));
  }
  // Start with the end-of-job box answered `answer`, then wait for the end to have been handled.
  const panel::MessageRequest& RunJob(int start, panel::PromptAnswer answer) {
    prompts_.QueueAnswer(answer);
    Click(start);
    EXPECT_TRUE(QTest::qWaitFor([&] { return window_->IdleFlag(); }, 600000));
    return LastBox();
  }
  const panel::MessageRequest& LastBox() { return prompts_.Records().back().request; }
  // The caption is the window's, back after every job.
  void ExpectBox(const panel::MessageRequest& box, const QString& text, PromptIcon icon,
                 PromptButtons buttons) {
    EXPECT_EQ(std::tuple(box.text, box.caption, box.icon, box.buttons),
              std::tuple(text, window_->windowTitle(), icon, buttons));
  }

  // Abort (Start's second meaning) a job held at a write, answer the deletion offer No, let the
  // held write go: the box and status row an abort ends with.
  void ExpectAbortOfHeldJob(ScopedFileIo& io, int start, const QString& status) {
    prompts_.QueueAnswer(PromptAnswer::No);
    Click(start);
    io.Release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window_->IdleFlag(); }, 600000));
    ExpectBox(LastBox(),
              "             Operation Aborted\r\nWould you like the output file deleted?",
              PromptIcon::None, PromptButtons::YesNo);
    EXPECT_EQ(Status(), status);
  }
  // A drag of `urls` onto `control`, with their text as file managers add it, offered as a copy
  // or a move and dropped if anything under it takes the drag: the action it took.
  Qt::DropAction Drop(int control, const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    data.setText(urls.constFirst().toString());
    const QPoint at = Control(control)->rect().center();
    const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction;
    QDragEnterEvent enter(at, offered, &data, Qt::LeftButton, Qt::NoModifier);
    enter.setDropAction(Qt::MoveAction);
    QApplication::sendEvent(Control(control), &enter);
    if (!enter.isAccepted()) return Qt::IgnoreAction;
    QDropEvent drop(at, offered, &data, Qt::LeftButton, Qt::NoModifier);
    drop.setDropAction(Qt::MoveAction);
    QApplication::sendEvent(Control(control), &drop);
    return drop.isAccepted() ? drop.dropAction() : Qt::IgnoreAction;
  }
  // A path on the command line, or one local file dropped on `dropOn`, is taken as Open takes a
  // chosen one, with its checks: the output's name is refused. Other drops (another host's file,
  // a cut or relative name) leave the input; this host's is the same file.
  void ExpectPathsFromOutsideOpened(int dropOn, int inputBox, int saveAs, const char* shot) {
    const QString in = QDir::current().absoluteFilePath("in put");
    window_->OpenPath(panel::PathArgument({"tool", "in put"}));
    EXPECT_EQ(Control<QLineEdit>(inputBox)->text() + " | " + Status(), in + " | Open File | Set");
    SaveArtifact(shot);
    Choose(saveAs, File("out"));
    const QString out = QString::fromStdString(File("out"));
    for (const QList<QUrl>& urls :
         {QList{QUrl::fromLocalFile(out), QUrl::fromLocalFile(in)},
          QList{QUrl("https://example.org/out")}, QList{QUrl("file://elsewhere" + out)},
          QList{QUrl::fromLocalFile(out + QChar(0) + "x")}, QList{QUrl("file:out")},
          QList{QUrl("file://localhost" + in)}}) {
      Drop(dropOn, urls);
      EXPECT_EQ(Control<QLineEdit>(inputBox)->text(), in);
    }
    EXPECT_EQ(Drop(dropOn, {QUrl::fromLocalFile(out)}), Qt::CopyAction);  // never a move
    EXPECT_EQ(Control<QLineEdit>(inputBox)->text() + Status(),
              "Error | Input and output can not be the same file");
    EXPECT_EQ(LastBox().text, "Input and output can not be the same file");
  }
  // Through the accessibility interface: every control that acts as a button is a named button
  // whose press action clicks it, every edit is named, and a few have the names given.
  template <typename Table, typename IsButton>
  void ExpectAccessible(const Table& controls, IsButton isButton,
                        std::initializer_list<std::pair<int, QString>> names) {
    for (const auto& c : controls) {
      QAccessibleInterface* a = QAccessible::queryAccessibleInterface(Control(c.id));
      ASSERT_NE(a, nullptr) << c.id;
      const bool button = isButton(c), edit = qobject_cast<QLineEdit*>(Control(c.id));
      if (!button && !edit) continue;
      EXPECT_EQ(a->role(), button ? QAccessible::Button : QAccessible::EditableText) << c.id;
      EXPECT_FALSE(a->text(QAccessible::Name).isEmpty()) << c.id;
      EXPECT_EQ(
          a->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()),
          button)
          << c.id;
    }
    for (const auto& [id, name] : names)
      EXPECT_EQ(QAccessible::queryAccessibleInterface(Control(id))->text(QAccessible::Name), name);
  }
  // What the press action of `id` does is what its click does (a file dialog, answered).
  void ExpectPressOpens(int id) {
    prompts_.QueuePath(QString::fromStdString(File("pressed")));
    QAccessible::queryAccessibleInterface(Control(id))
        ->actionInterface()
        ->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(Status(), "Open File | Set");
  }
  // Each key, pressed in `focus`, clicks its control; Start's begins a job, run to its end.
  void ExpectShortcuts(int focus) {
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    WriteFileBytes(File("plain"), Bytes(100, 1));
    const struct {
      Qt::Key key;
      const char *path, *status;
    } rows[] = {{Qt::Key_O, "plain", "Open File | Set"},
                {Qt::Key_S, "sealed", "Save File As | Set"},
                {Qt::Key_H, nullptr, "Confidential Mode | On"},
                {Qt::Key_Return, nullptr, "Encrypting | Working - 000%"}};
    for (const auto& r : rows) {
      if (r.path) prompts_.QueuePath(QString::fromStdString(File(r.path)));
      Control(focus)->setFocus();
      QTest::keyClick(Control(focus), r.key, Qt::ControlModifier);
      EXPECT_EQ(Status(), r.status);
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return window_->IdleFlag(); }, 600000));
    EXPECT_EQ(Status(), "Encrypting | Complete");
  }

  TempDir dir_;
  ScriptedPrompts prompts_;
  std::unique_ptr<Window> window_;
};

}  // namespace testing_gui

// The passphrase window: the passphrase match and its byte limits, confidential mode, the file
// choices, and its jobs.
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QKeyEvent>

#include <algorithm>

#include "engine/backend.h"
#include "passtool/window.h"
#include "passtool/window_layout.h"
#include "tests/gui/window_driver.h"

namespace testing_gui {
namespace {

using engine::Direction;

constexpr int kHide = 10, kDirection = 20, kStart = 30, kOpen = 40, kSaveAs = 50, kFirst = 71,
              kSecond = 81;
constexpr uint64_t kChunk = 262144;
const QString kPassphrase = QStringLiteral("Grüße-€");  // bytes above 127 on both sides

class PassphraseTest : public WindowTest<passtool::PassphraseWindow, 90> {
 protected:
  void SetUp() override {
    window_ = passtool::StartPassphraseTool(engine::ReadCpuFeatures(), prompts_);
    ASSERT_NE(window_, nullptr);
  }
  QLineEdit* Edit(int id) { return Control<QLineEdit>(id); }
  // Key presses carrying each character, as a keyboard layout that has it sends them (QTest's
  // key clicks know ASCII only).
  void Type(int id, const QString& text) {
    for (const QChar c : text) {
      QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
      QApplication::sendEvent(Edit(id), &press);
    }
  }
  // Fresh choices: direction, both files, the passphrase typed twice.
  void Prepare(Direction direction, const std::string& input, const std::string& output,
               const QString& passphrase = kPassphrase) {
    if (window_->Direction() != direction) Click(kDirection);
    for (int id : {42, 52, 72, 82})
      Click(id);
    Choose(kOpen, input);
    Choose(kSaveAs, output);
    Type(kFirst, passphrase);
    Type(kSecond, passphrase);
    ASSERT_EQ(Colour(kStart), kGreen);
  }
  // After any job: Start green again with nothing re-entered, no passphrase or key left behind.
  void ExpectReadyAgain() {
    EXPECT_EQ(Text(kStart) + Colour(kStart), QString("Start") + kGreen);
    EXPECT_FALSE(Edit(kFirst)->isReadOnly());
    const auto zero = [](const auto& bytes) {
      return std::all_of(std::begin(bytes), std::end(bytes), [](uint8_t b) { return b == 0; });
    };
    EXPECT_EQ(window_->FirstEntry().length, 0u);
    EXPECT_TRUE(zero(window_->FirstEntry().bytes) && zero(window_->SecondEntry().bytes));
    EXPECT_TRUE(zero(engine::gKeySchedule.roundKeys));
  }
  // The console's final line.
  QByteArray Console(const char* command, const char* input, const char* output,
                     const QString& passphrase) {
    QProcess process;
    process.start(QStringLiteral(AESTARNEX_PATH), {"Praxel", command, File(input).c_str(),
                                                   File(output).c_str(), "*" + passphrase + "*"});
    process.waitForFinished(-1);
    return process.readAllStandardOutput();
  }
};

TEST_F(PassphraseTest, EntriesMatchOnlyWhenEqualAndNonEmptyCountingBytesUpTo512) {
  Choose(kOpen, "/tmp/in");
  Choose(kSaveAs, "/tmp/out");
  // Two empty entries do not match; the counts are UTF-8 bytes, not characters.
  for (const auto& [first, second, count] : {std::tuple{"", "", "000000"},
                                             {"horse1", "horse2", "006006"},
                                             {"Grüße €", "Grüße €", "011011"}}) {
    Click(72);
    Click(82);
    Type(kFirst, first);
    Type(kSecond, second);
    EXPECT_EQ(Text(70) + Text(80), count);
    for (int id : {kFirst, kSecond, kStart})
      EXPECT_EQ(Colour(id), *first && !strcmp(first, second) ? kGreen : kRed) << first << id;
  }
  // 512 bytes fill an edit: the 513th is refused quietly, and so is a two-byte character at 511.
  Click(72);
  Click(82);
  window_->ShowStatus("Title", "Message");
  Type(kFirst, QString(513, 'a'));
  Type(kSecond, QString(511, 'a') + "éa");
  EXPECT_EQ(window_->FirstEntry().length, 512u);
  EXPECT_EQ(Colour(kStart) + Status(), kGreen + QString("Title | Message"));  // they match
  // A paste that would pass 512 bytes is refused whole and said so; one that just fits is taken.
  // Ctrl+V, or the edit's own Paste (its context menu's).
  for (const auto& [clip, shortcut] : {std::pair{QString(511, 'p'), true},
                                       {QString(300, u'é'), false},
                                       {QString(510, 'p'), true}}) {
    Click(82);
    Type(kSecond, "ab");
    window_->ShowStatus("Title", "Message");
    QGuiApplication::clipboard()->setText(clip);
    shortcut ? QTest::keyClick(Edit(kSecond), Qt::Key_V, Qt::ControlModifier)
             : Edit(kSecond)->paste();
    const bool fits = clip.size() == 510;
    EXPECT_EQ(Edit(kSecond)->text(), "ab" + (fits ? clip : ""));
    EXPECT_EQ(Status(), fits ? "Title | Message"
                             : "Second Passphrase | Error - The passphrase would be longer than "
                               "512 bytes");
  }
}

TEST_F(PassphraseTest, ConfidentialModeHidesEntriesPathsAndCounts) {
  Choose(kOpen, "/home/user/Documents/report.pdf");
  Choose(kSaveAs, "/home/user/Documents/report.pdf.sealed");
  Type(kFirst, "correct horse battery staple");
  Type(kSecond, "correct horse battery staple");
  SaveArtifact("guide_aespraxel.png");  // the user's guide shows this one
  Click(kHide);
  EXPECT_EQ(Status(), "Confidential Mode | On");
  for (int id : {41, 51, kFirst, kSecond})
    EXPECT_EQ(Edit(id)->displayText(), QString(Edit(id)->text().size(), '-')) << id;
  EXPECT_EQ(Text(70) + Text(80), "------");
}

TEST_F(PassphraseTest, FileChoicesRefuseTheSameNameAndTooLongAName) {
  Choose(kOpen, "/tmp/a");
  Choose(kSaveAs, "/tmp/a");             // the output goes; names are compared byte for byte
  Choose(kOpen, std::string(260, 'p'));  // the job holds 259 bytes: refused, nothing chosen
  EXPECT_EQ(Edit(41)->text() + Edit(51)->text(), "/tmp/a");
  EXPECT_EQ(prompts_.Records()[2].request.text, "Input and output can not be the same file");
  EXPECT_EQ(LastBox().text, "The path is too long: at most 259 bytes");
}

// Dropped on a passphrase edit, a file is still the input, not text.
TEST_F(PassphraseTest, PathArgumentAndDroppedFileAreTakenAsOpenTakesThem) {
  ExpectPathsFromOutsideOpened(kFirst, 41, kSaveAs, "aespraxel-path.png");
}

TEST_F(PassphraseTest, ControlsToAssistiveTechnologyAndShortcutsClickThem) {
  ExpectAccessible(passtool::layout::kControls,
                   [](const auto& c) { return c.style & passtool::layout::kNotify; },
                   {{kFirst, "Passphrase"}, {kSecond, "Passphrase again"}, {51, "Output file"}});
  for (bool hidden : {false, true}) {
    for (int id : {kFirst, kSecond})
      EXPECT_EQ(QAccessible::queryAccessibleInterface(Edit(id))->state().passwordEdit, hidden);
    Click(kHide);
  }
  ExpectPressOpens(kOpen);
  Type(kFirst, "pw");
  Type(kSecond, "pw");
  ExpectShortcuts(kFirst);
}

TEST_F(PassphraseTest, FilesSealedHereOpenInTheConsoleAndTheReverse) {
  const Bytes small = RandomBytes(10, 1);
  WriteFileBytes(File("small"), small);
  Prepare(Direction::Encrypt, File("small"), File("small.sealed"));
  ExpectBox(RunJob(kStart, PromptAnswer::Ok), "   Operation Complete", PromptIcon::None,
            PromptButtons::Ok);
  EXPECT_EQ(prompts_.Records().back().ownerCaption, "Complete");
  EXPECT_EQ(Status(), "Encrypting | Complete");
  ExpectReadyAgain();
  EXPECT_EQ(Console("D", "small.sealed", "small.opened", kPassphrase),
            "Decryption Complete. Authentication Tag Correct\r\n");
  EXPECT_EQ(ReadFileBytes(File("small.opened")), small);

  const Bytes large = RandomBytes(2 * kChunk + 5, 2);  // several chunks and progress steps
  WriteFileBytes(File("large"), large);
  ASSERT_EQ(Console("E", "large", "large.sealed", kPassphrase), "Encryption Complete\r\n");
  Prepare(Direction::Decrypt, File("large.sealed"), File("large.opened"));
  BeforeJobEnd lateAbort(*window_, [&] { Click(kStart); });  // changes no verdict
  EXPECT_EQ(RunJob(kStart, PromptAnswer::Ok).text, "   Operation Complete");
  EXPECT_EQ(Status(), "Decrypting | Complete");
  EXPECT_EQ(ReadFileBytes(File("large.opened")), large);
  ExpectReadyAgain();
  // A wrong passphrase: "Complete" under its box though the run ended short; No keeps the output.
  QString lineUnderBox;
  prompts_.OnMessage([&] { lineUnderBox = Text(91); });
  Prepare(Direction::Decrypt, File("small.sealed"), File("wrong.opened"), "wrong");
  BeforeJobEnd wrongTagAbort(*window_, [&] { Click(kStart); });  // changes no verdict either
  ExpectBox(RunJob(kStart, PromptAnswer::No),
            "Decryption Failure\r\nIncorrect passphrase or damaged file\r\n\r\n"
            "Would you like the output file deleted?",
            PromptIcon::Error, PromptButtons::YesNo);
  EXPECT_EQ(lineUnderBox, "Complete");
  EXPECT_EQ(FileSize(File("wrong.opened")), small.size());
  EXPECT_EQ(Status(), "Decrypting | Error - Incorrect passphrase");
  ExpectReadyAgain();
}

// The first write (the sealed header) is held, so the window is checked while a job certainly
// runs; the Abort then lands before the key derivation's first iteration.
TEST_F(PassphraseTest, DuringAJobOnlyAbortCountsAndItStopsTheJob) {
  WriteFileBytes(File("plain"), RandomBytes(3 * kChunk, 4));
  Prepare(Direction::Encrypt, File("plain"), File("sealed"), "pw");
  ScopedFileIo io({.writeFault = Fault::Hold});
  Click(kStart);
  ASSERT_TRUE(QTest::qWaitFor([&] { return io.Holding(); }, 60000));
  EXPECT_EQ(Text(kStart) + " " + Status(), "Abort Encrypting | Working - 000%");
  EXPECT_TRUE(Edit(kFirst)->isReadOnly());
  for (int id : {kHide, kDirection, kOpen, 42, kSaveAs, 52, 72, 82})
    Click(id);
  QTest::keyClicks(Edit(kSecond), "x");
  EXPECT_FALSE(window_->close());
  EXPECT_EQ(prompts_.Records().size(), 2u);  // the two file dialogs
  EXPECT_EQ(Text(kHide) + Text(kDirection) + Edit(kSecond)->text(), "HideEncryptpw");

  ExpectAbortOfHeldJob(io, kStart, "Encrypting | Aborted");
  EXPECT_EQ(FileSize(File("sealed")), 45u);  // the header alone: no block was processed
  ExpectReadyAgain();
  EXPECT_FALSE(Edit(kFirst)->isUndoAvailable());  // the history went when the job began
}

TEST_F(PassphraseTest, RefusalsBeforeTheRunAndIoFailuresDuringIt) {
  Bytes v2(46, 0);
  v2[0] = 2;
  WriteFileBytes(File("v2"), v2);
  WriteFileBytes(File("huge"), Bytes{});
  ASSERT_EQ(truncate(File("huge").c_str(), 68719476705), 0);  // sparse: one byte too many
  const Bytes plain = RandomBytes(3 * kChunk, 5);
  WriteFileBytes(File("plain"), plain);
  ASSERT_EQ(mkfifo(File("fifo").c_str(), 0600), 0);
  const struct {
    const char *input, *output, *status, *box;
    FaultPlan plan;
  } cases[] = {
      // clang-format off
      // A pipe with no writer must neither hang the open nor be taken as the output.
      {"fifo", "out", "Open File | Error - Could not open the file", nullptr, {}},
      {"plain", "fifo", "Save File As | Error - Could not save the file", nullptr, {}},
      {"missing", "out", "Open File | Error - Could not open the file", nullptr, {}},
      {"v2", "out", "Open File | Error - Only a file with a V1 header can be decrypted", nullptr, {}},
      {"plain", "no/dir/out", "Save File As | Error - Could not save the file", nullptr, {}},
      {"huge", "out", "Open File | Error - The input file is too large to encrypt", nullptr, {}},
      {"plain", "./plain", "Error | Input and output can not be the same file", nullptr, {}},
      // During the run: the whole text in the box, no deletion offered, the first chunk stays.
      {"plain", "out", "Encrypting | Aborted", "Error - Could not save the file",
       {.writeFault = Fault::Fail, .writeAt = 45 + kChunk}},
      // clang-format on
  };
  for (const auto& c : cases) {
    Prepare(c.input == std::string("v2") ? Direction::Decrypt : Direction::Encrypt, File(c.input),
            File(c.output));
    ScopedFileIo io(c.plan);
    ExpectBox(RunJob(kStart, PromptAnswer::Yes),
              c.box ? c.box : QString(c.status).section(" | ", 1).remove("Error - "),
              PromptIcon::Error, PromptButtons::Ok);
    EXPECT_EQ(Status(), c.status);
    EXPECT_EQ(FileExists(File("out")), c.box != nullptr);
    ExpectReadyAgain();
  }
  EXPECT_EQ(FileSize(File("out")), 45 + kChunk);
  EXPECT_EQ(ReadFileBytes(File("plain")), plain);
}

}  // namespace
}  // namespace testing_gui

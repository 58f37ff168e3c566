// Jobs of the passphrase window: files sealed here and in the console open in the other, the
// end-of-job boxes with their deletion choice, abort, the checks before a run, and read and
// write failures during it, injected under the file layer.
#include <string.h>
#include <unistd.h>

#include <QProcess>

#include <algorithm>
#include <atomic>
#include <thread>

#include "engine/gcm.h"
#include "tests/passtool/window_driver.h"
#include "tests/support/fault_injection.h"
#include "tests/support/test_files.h"

namespace testing_gui {
namespace {

using engine::Direction;
using panel::PromptAnswer;
using panel::PromptButtons;
using panel::PromptIcon;
using testing_support::Bytes;
using testing_support::FileExists;
using testing_support::FileSize;
using testing_support::RandomBytes;
using testing_support::ReadFileBytes;
using testing_support::WriteFileBytes;

constexpr uint64_t kChunk = 262144;
const QString kPassphrase = QStringLiteral("Grüße-€");  // bytes above 127 on both sides

// The console's exit code and standard output.
std::pair<int, QByteArray> Console(const char* command, const std::string& input,
                                   const std::string& output, const QString& passphrase) {
  QProcess process;
  process.start(QStringLiteral(AESTARNEX_PATH),
                {"Praxel", command, QString::fromStdString(input), QString::fromStdString(output),
                 "*" + passphrase + "*"});
  process.waitForFinished(-1);
  return {process.exitCode(), process.readAllStandardOutput()};
}

// Holds the worker in its first write (the sealed header, just before the key derivation) until
// released, so a test acts while a job certainly runs. Installed and removed with no job running.
class HeaderHold {
 public:
  HeaderHold() : io_{Read, Write, this} { engine::SetFileIoOverride(&io_); }
  ~HeaderHold() { engine::SetFileIoOverride(nullptr); }
  std::atomic<bool> entered{false};
  std::atomic<bool> released{false};

 private:
  static int64_t Read(void*, engine::FileHandle file, void* data, size_t size) {
    return read(file, data, size);
  }
  static int64_t Write(void* context, engine::FileHandle file, const void* data, size_t size) {
    auto* self = static_cast<HeaderHold*>(context);
    self->entered = true;
    while (!self->released)
      std::this_thread::yield();
    return write(file, data, size);
  }

  engine::FileIoOverride io_;
};

// The tag of a sealed encryption stopped before its first block with nothing derived: under the
// all-zero key, GHASH over the length block alone, XOR E(J0).
engine::Block ZeroKeyTag(const Bytes& header, uint64_t bodyBytes) {
  const uint8_t zeroKey[32] = {};
  engine::LoadAesKey(zeroKey, engine::KeySize::Bits256, false);
  uint8_t j0[16] = {};
  memcpy(j0, header.data() + 1, 12);
  j0[15] = 1;
  uint8_t lengths[16] = {};
  for (int i = 0; i < 8; ++i)
    lengths[15 - i] = static_cast<uint8_t>(bodyBytes * 8 >> 8 * i);
  const engine::Block h = engine::AesEncryptBlock(engine::ZeroBlock());
  const engine::Block tag = engine::GfMul128(engine::LoadBlock(lengths), h) ^
                            engine::AesEncryptBlock(engine::LoadBlock(j0));
  engine::WipeAesKeySchedule();
  return tag;
}

bool AllZero(const uint8_t* bytes, size_t count) {
  return std::all_of(bytes, bytes + count, [](uint8_t b) { return b == 0; });
}

class PassphraseJobTest : public PassphraseWindowTest {
 protected:
  // The worker must not be waiting on the hold when the window's end waits for it.
  void TearDown() override {
    if (hold_) hold_->released = true;
    window_.reset();
  }
  std::string File(const char* name) { return dir_.File(name); }
  // Fresh choices: direction, both files, the passphrase typed twice.
  void Prepare(Direction direction, const std::string& input, const std::string& output,
               const QString& passphrase = kPassphrase) {
    if (window_->Direction() != direction) Click(20);
    for (int id : {42, 52, 72, 82})
      Click(id);
    Choose(40, QString::fromStdString(input));
    Choose(50, QString::fromStdString(output));
    Type(71, passphrase);
    Type(81, passphrase);
    ASSERT_EQ(Colour(30), kGreen);
  }
  // Start, then the end of the job: the last box, answered with `answer`.
  ScriptedPrompts::Record Run(PromptAnswer answer = PromptAnswer::Ok) {
    prompts_.QueueAnswer(answer);
    Click(30);
    return Finish();
  }
  ScriptedPrompts::Record Finish() {
    EXPECT_TRUE(QTest::qWaitFor([&] { return window_->IdleFlag(); }, 600000));
    return prompts_.Records().back();
  }
  void ExpectBox(const ScriptedPrompts::Record& box, const QString& text, PromptIcon icon,
                 PromptButtons buttons) {
    EXPECT_EQ(box.request.text, text);
    EXPECT_EQ(box.request.caption, "AES Praxel");
    EXPECT_EQ(box.request.icon, icon);
    EXPECT_EQ(box.request.buttons, buttons);
  }
  // After any job: Start green again with nothing re-entered, no passphrase or key left behind.
  void ExpectReadyAgain() {
    EXPECT_TRUE(window_->IdleFlag());
    EXPECT_EQ(Text(30), "Start");
    EXPECT_EQ(Colour(30), kGreen);
    EXPECT_EQ(window_->windowTitle(), "AES Praxel");
    EXPECT_FALSE(Edit(71)->isReadOnly());
    EXPECT_FALSE(Edit(81)->isReadOnly());
    EXPECT_EQ(window_->FirstEntry().length, 0u);
    EXPECT_TRUE(AllZero(window_->FirstEntry().bytes, sizeof window_->FirstEntry().bytes));
    EXPECT_TRUE(AllZero(window_->SecondEntry().bytes, sizeof window_->SecondEntry().bytes));
    EXPECT_TRUE(AllZero(engine::gKeySchedule.roundKeys, sizeof engine::gKeySchedule.roundKeys));
  }

  testing_support::TempDir dir_;
  std::unique_ptr<HeaderHold> hold_;
};

TEST_F(PassphraseJobTest, FilesSealedHereOpenInTheConsoleAndTheReverse) {
  const Bytes small = RandomBytes(10, 1);
  WriteFileBytes(File("small"), small);
  Prepare(Direction::Encrypt, File("small"), File("small.sealed"));
  const ScriptedPrompts::Record done = Run();
  ExpectBox(done, "   Operation Complete", PromptIcon::None, PromptButtons::Ok);
  EXPECT_EQ(done.ownerCaption, "Complete");
  EXPECT_EQ(FileSize(File("small.sealed")), 55u);
  EXPECT_EQ(Text(90), "Encrypting");
  EXPECT_EQ(Text(91), "Complete");
  ExpectReadyAgain();
  const auto opened = Console("D", File("small.sealed"), File("small.opened"), kPassphrase);
  EXPECT_EQ(opened.first, 1);
  EXPECT_EQ(opened.second, "Decryption Complete. Authentication Tag Correct\r\n");
  EXPECT_EQ(ReadFileBytes(File("small.opened")), small);

  const Bytes large = RandomBytes(2 * kChunk + 5, 2);  // several chunks and progress steps
  WriteFileBytes(File("large"), large);
  ASSERT_EQ(Console("E", File("large"), File("large.sealed"), kPassphrase).first, 0);
  Prepare(Direction::Decrypt, File("large.sealed"), File("large.opened"));
  BeforeJobEnd lateAbort(*window_, [&] { Click(30); });  // changes no verdict
  ExpectBox(Run(), "   Operation Complete", PromptIcon::None, PromptButtons::Ok);
  EXPECT_EQ(Text(90), "Decrypting");
  EXPECT_EQ(ReadFileBytes(File("large.opened")), large);
  ExpectReadyAgain();
}

TEST_F(PassphraseJobTest, AWrongPassphraseShowsCompleteUnderItsBoxAndDeletionFollowsTheAnswer) {
  const Bytes plain = RandomBytes(1000, 3);  // the run ends below 100 percent
  WriteFileBytes(File("plain"), plain);
  ASSERT_EQ(Console("E", File("plain"), File("sealed"), "right").first, 0);
  QString lineUnderBox;
  prompts_.OnMessage([&](QWidget*, const panel::MessageRequest&) { lineUnderBox = Text(91); });
  const Bytes old = RandomBytes(300, 9);
  for (PromptAnswer answer : {PromptAnswer::No, PromptAnswer::Yes}) {
    if (answer == PromptAnswer::Yes) WriteFileBytes(File("opened"), old);
    Prepare(Direction::Decrypt, File("sealed"), File("opened"), "wrong");
    BeforeJobEnd lateAbort(*window_, [&] { Click(30); });  // the wrong tag stands
    const ScriptedPrompts::Record box = Run(answer);
    ExpectBox(box,
              "Decryption Failure\r\nIncorrect passphrase or damaged file\r\n\r\n"
              "Would you like the output file deleted?",
              PromptIcon::Error, PromptButtons::YesNo);
    EXPECT_EQ(box.ownerCaption, "Complete");
    EXPECT_EQ(lineUnderBox, "Complete");
    // No keeps the whole unverified output; Yes deletes what this job wrote, so a file that was
    // there before stays.
    if (answer == PromptAnswer::No)
      EXPECT_EQ(FileSize(File("opened")), plain.size());
    else
      EXPECT_EQ(ReadFileBytes(File("opened")), old);
    EXPECT_EQ(testing_support::PartFileCount(dir_.path()), 0);
    EXPECT_EQ(Text(90), "Decrypting");
    EXPECT_EQ(Text(91), "Error - Incorrect passphrase");
    ExpectReadyAgain();
  }
}

TEST_F(PassphraseJobTest, DuringAJobOnlyAbortCountsAndItEndsTheDerivationAtOnce) {
  const uint64_t size = 3 * kChunk;
  WriteFileBytes(File("plain"), RandomBytes(size, 4));
  Show();
  Prepare(Direction::Encrypt, File("plain"), File("sealed"), "pw");
  hold_ = std::make_unique<HeaderHold>();
  Click(30);
  ASSERT_TRUE(QTest::qWaitFor([&] { return hold_->entered.load(); }, 60000));
  EXPECT_EQ(Text(30), "Abort");
  EXPECT_EQ(Colour(30), kRed);
  EXPECT_EQ(Text(90), "Encrypting");
  EXPECT_EQ(Text(91), "Working - 000%");
  EXPECT_TRUE(Edit(71)->isReadOnly());
  EXPECT_EQ(Colour(71), kGreen);
  SaveArtifact("passtool_running.png");

  const size_t asked = prompts_.Records().size();
  for (int id : {10, 20, 40, 42, 50, 52, 72, 82})
    Click(id);
  QTest::keyClicks(Edit(81), "x");
  EXPECT_FALSE(window_->close());
  EXPECT_EQ(prompts_.Records().size(), asked);
  EXPECT_EQ(Text(10), "Hide");
  EXPECT_EQ(Text(20), "Encrypt");
  EXPECT_EQ(Edit(41)->text(), QString::fromStdString(File("plain")));
  EXPECT_EQ(Edit(81)->text(), "pw");
  EXPECT_EQ(Text(90), "Encrypting");

  prompts_.QueueAnswer(PromptAnswer::No);
  Click(30);  // Abort, before the worker reaches its first derivation iteration
  hold_->released = true;
  ExpectBox(Finish(), "             Operation Aborted\r\nWould you like the output file deleted?",
            PromptIcon::None, PromptButtons::YesNo);
  EXPECT_EQ(Text(91), "Aborted");
  const Bytes sealed = ReadFileBytes(File("sealed"));
  ASSERT_EQ(sealed.size(), 45u);  // the header alone: no block was processed
  EXPECT_TRUE(engine::BlocksEqual(engine::LoadBlock(sealed.data() + 29), ZeroKeyTag(sealed, size)))
      << "the derivation ran on after the abort";
  ExpectReadyAgain();
  EXPECT_FALSE(Edit(71)->isUndoAvailable());  // the history went when the job began
  EXPECT_FALSE(window_->close());             // idle again: closing asks (answered No)
  EXPECT_EQ(prompts_.Records().back().request.text, "            Are You Sure?");
}

TEST_F(PassphraseJobTest, ChecksBeforeTheRunRefuseWithBoxAndStatusAndLeaveStartGreen) {
  Bytes v2(46, 0);
  v2[0] = 2;
  WriteFileBytes(File("v2"), v2);
  WriteFileBytes(File("huge"), Bytes{});
  ASSERT_EQ(truncate(File("huge").c_str(), 68719476705), 0);  // sparse: one byte too many
  const Bytes plain = RandomBytes(10, 5);
  WriteFileBytes(File("plain"), plain);
  const struct {
    Direction direction;
    std::string input, output;
    const char *title, *status;
  } cases[] = {
      {Direction::Encrypt, File("missing"), File("out"), "Open File",
       "Error - Could not open the file"},
      {Direction::Decrypt, File("v2"), File("out"), "Open File",
       "Error - Only a file with a V1 header can be decrypted"},
      {Direction::Encrypt, File("plain"), File("no folder/out"), "Save File As",
       "Error - Could not save the file"},
      // Refusals this tool adds: a body the GCM counter cannot cover, and the input under
      // another name, refused before anything is truncated.
      {Direction::Encrypt, File("huge"), File("out"), "Open File",
       "Error - The input file is too large to encrypt"},
      {Direction::Encrypt, File("plain"), dir_.path() + "/./plain", "Error",
       "Input and output can not be the same file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.status);
    Prepare(c.direction, c.input, c.output);
    ExpectBox(Run(), QString(c.status).remove("Error - "), PromptIcon::Error, PromptButtons::Ok);
    EXPECT_EQ(Text(90), c.title);
    EXPECT_EQ(Text(91), c.status);
    EXPECT_FALSE(FileExists(File("out")));
    ExpectReadyAgain();
  }
  EXPECT_EQ(ReadFileBytes(File("plain")), plain);
}

TEST_F(PassphraseJobTest, ReadAndWriteFailuresDuringTheRunKeepThePartialOutput) {
  WriteFileBytes(File("plain"), RandomBytes(3 * kChunk, 6));
  const struct {
    testing_support::FaultPlan plan;
    const char* box;
  } cases[] = {
      {{.readFault = testing_support::Fault::Fail, .readAt = kChunk},
       "Error - Could not open the file"},
      {{.writeFault = testing_support::Fault::Fail, .writeAt = 45 + kChunk},
       "Error - Could not save the file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.box);
    unlink(File("sealed").c_str());  // a new output: an existing one would stay as it was
    Prepare(Direction::Encrypt, File("plain"), File("sealed"));
    testing_support::ScopedFileIo io(c.plan);
    ExpectBox(Run(PromptAnswer::Yes), c.box, PromptIcon::Error, PromptButtons::Ok);
    EXPECT_EQ(Text(91), "Aborted");
    EXPECT_EQ(FileSize(File("sealed")), 45 + kChunk);  // no deletion: the first chunk stays
    ExpectReadyAgain();
  }
}

}  // namespace
}  // namespace testing_gui

// Jobs through the real key tool window: file choices, the refusals before a job, full runs in
// every mode checked against the console program, GCM verdicts, Abort, I/O failures, the
// pseudo-random sizes and the acceleration switch.
#include "keytool/job_control.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QClipboard>
#include <QDirIterator>
#include <QFileDialog>
#include <QProcess>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include <string>

#include "engine/backend.h"
#include "tests/keytool/window_fixture.h"
#include "tests/support/fault_injection.h"
#include "tests/support/job_runner.h"
#include "tests/support/test_files.h"

namespace {

using panel::PromptAnswer;
using panel::PromptButtons;
using panel::PromptIcon;
using testing_support::Bytes;
using testing_support::FileExists;
using testing_support::FileSize;
using testing_support::ReadFileBytes;
using testing_support::WriteFileBytes;
using namespace testing_gui;

constexpr int kStart = 40, kMode = 50, kDirection = 20, kKeySize = 30, kSaveAs = 70,
              kClearInput = 62, kClearOutput = 72, kAccel = 142, kIvPaste = 104, kKeyPaste = 110;
constexpr char kIvHex[] = "F0E1D2C3B4A5968778695A4B3C2D1E0F";
constexpr char kKeyHex[] = "000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F";

class JobControlTest : public KeyToolWindowTest {
 protected:
  void SetUp() override {
    Make();
    ShowActive(*window_);
    // The window as it stands behind each kind of end-of-job box, for people to look at.
    prompts_.OnMessage([](QWidget* owner, const panel::MessageRequest& box) {
      const struct {
        const char* text;
        const char* file;
      } shots[] = {{"   Operation Complete", "keytool_complete.png"},
                   {"Authentication Tag Correct", "keytool_gcm_tag_correct.png"},
                   {"GCM Authentication Failure", "keytool_gcm_failure.png"},
                   {"Operation Aborted", "keytool_aborted.png"},
                   {"Error - Could not open the input file", "keytool_read_failure.png"},
                   {"Error - Could not save the output file", "keytool_write_failure.png"}};
      for (const auto& shot : shots)
        if (box.text == shot.text || (box.text.contains(shot.text) && shot.text[0] != ' '))
          return SaveArtifact(*owner, shot.file);
    });
  }
  std::string File(const char* name) { return dir_.File(name); }
  void ChooseInput(const std::string& path) {
    prompts_.QueuePath(QString::fromStdString(path));
    QTest::mouseClick(Control(60), Qt::LeftButton);
  }
  void ShiftClickOpen() { QTest::mouseClick(Control(60), Qt::LeftButton, Qt::ShiftModifier); }
  void ChooseOutput(const std::string& path) {
    prompts_.QueuePath(QString::fromStdString(path));
    Click(kSaveAs);
  }
  void CycleTo(int id, const QString& label) {
    for (int n = 0; n < 7 && Text(id) != label; ++n)
      Click(id);
    ASSERT_EQ(Text(id), label);
  }
  void Paste(int button, const QString& text) {
    QGuiApplication::clipboard()->setText(text);
    Click(button);
  }
  // Start, then wait for the end of the job to have been handled.
  void RunJob() {
    Click(kStart);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window_->IdleFlag(); }, 60000));
  }
  const panel::MessageRequest& LastBox() { return prompts_.Records().back().request; }
  size_t Prompted() { return prompts_.Records().size(); }
  std::string Status() { return (Text(140) + " | " + Text(141)).toStdString(); }
  std::string InputBox() { return Control<QLineEdit>(61)->text().toStdString(); }
  std::string OutputBox() { return Control<QLineEdit>(71)->text().toStdString(); }

  testing_support::TempDir dir_;
};

void ExpectBox(const panel::MessageRequest& box, const char* text, PromptIcon icon,
               PromptButtons buttons) {
  EXPECT_EQ(box.text, text);
  EXPECT_EQ(box.caption, "AES Moltra");
  EXPECT_EQ(box.icon, icon);
  EXPECT_EQ(box.buttons, buttons);
}

// What the console makes of the same file with the same key and IV.
Bytes ConsoleOutput(const std::string& input, const std::string& output, const char* mode,
                    int bits) {
  QStringList args = {"Moltra", "E", QString::number(bits), mode};
  if (std::string(mode) != "ECB")
    args << QString(kIvHex).left(std::string(mode) == "GCM" ? 24 : 32);
  args << QString(kKeyHex).left(bits / 4) << QString::fromStdString(input)
       << QString::fromStdString(output);
  EXPECT_EQ(QProcess::execute(AESTARNEX_PATH, args), 0);
  return ReadFileBytes(output);
}

TEST_F(JobControlTest, EveryModeMatchesTheConsoleAndDecryptsBackThroughTheWindow) {
  features_ = engine::ReadCpuFeatures();
  const Bytes plain = testing_support::RandomBytes(70001, 7);
  WriteFileBytes(File("plain"), plain);
  Paste(kIvPaste, kIvHex);
  Paste(kKeyPaste, kKeyHex);
  const char* modes[] = {"CTR", "GCM", "OFB", "CFB", "CBC", "ECB", "PCBC"};
  const char* sizes[] = {"128 Bits", "192 Bits", "256 Bits"};
  for (int m = 0; m < 7; ++m) {
    SCOPED_TRACE(modes[m]);
    CycleTo(kMode, modes[m]);
    CycleTo(kKeySize, sizes[m % 3]);
    CycleTo(kDirection, "Encrypt");
    ChooseInput(File("plain"));
    ChooseOutput(File("window.enc"));
    RunJob();
    ExpectBox(LastBox(), "   Operation Complete", PromptIcon::None, PromptButtons::Ok);
    EXPECT_EQ(prompts_.Records().back().ownerCaption, "Complete");
    EXPECT_EQ(Status(), "Encrypting | Complete");
    EXPECT_EQ(window_->windowTitle(), "AES Moltra");
    EXPECT_EQ(Text(kStart), "Start");
    EXPECT_EQ(Colour(kStart), "#008000");
    EXPECT_EQ(ReadFileBytes(File("window.enc")),
              ConsoleOutput(File("plain"), dir_.File(std::string("console.") + modes[m]), modes[m],
                            128 + 64 * (m % 3)));

    CycleTo(kDirection, "Decrypt");
    ChooseOutput(File("window.dec"));  // first, or the input would be refused as the output
    ChooseInput(File("window.enc"));
    BeforeJobEnd lateAbort(*window_, [&] { Click(kStart); });  // changes no verdict
    RunJob();
    EXPECT_EQ(LastBox().text, m == 1 ? "      Operation Complete\r\nAuthentication Tag Correct"
                                     : "   Operation Complete");
    EXPECT_EQ(Status(), "Decrypting | Complete");
    EXPECT_EQ(ReadFileBytes(File("window.dec")), plain);
  }
  // The job's key material is gone once the job has ended.
  EXPECT_EQ(Bytes(window_->Jobs().Job().key, window_->Jobs().Job().key + 32), Bytes(32, 0));
}

// Yes deletes what the job wrote, so an output that existed stays; No keeps the job's output, in
// place of one that existed.
TEST_F(JobControlTest, ChangedGcmFileOffersDeletionYesDeletesNoKeeps) {
  WriteFileBytes(File("plain"), testing_support::RandomBytes(1000, 3));
  CycleTo(kMode, "GCM");
  ChooseInput(File("plain"));
  ChooseOutput(File("sealed"));
  RunJob();
  Bytes sealed = ReadFileBytes(File("sealed"));
  sealed[500] ^= 1;
  WriteFileBytes(File("changed"), sealed);
  CycleTo(kDirection, "Decrypt");
  const Bytes old = testing_support::RandomBytes(300, 9);
  for (PromptAnswer answer : {PromptAnswer::No, PromptAnswer::Yes}) {
    for (bool existed : {false, true}) {
      SCOPED_TRACE(::testing::Message() << (answer == PromptAnswer::Yes) << existed);
      unlink(File("opened").c_str());
      if (existed) WriteFileBytes(File("opened"), old);
      ChooseInput(File("changed"));
      ChooseOutput(File("opened"));
      prompts_.QueueAnswer(answer);
      BeforeJobEnd lateAbort(*window_, [&] { Click(kStart); });  // the wrong tag stands
      RunJob();
      ExpectBox(LastBox(),
                "GCM Authentication Failure\r\nIncorrect IV / Key or damaged file\r\n\r\n"
                "Would you like the output file deleted?",
                PromptIcon::Error, PromptButtons::YesNo);
      EXPECT_EQ(prompts_.Records().back().ownerCaption, "Complete");
      EXPECT_EQ(Status(), "Decrypting | Error - Authentication Failure");
      if (answer == PromptAnswer::No) {
        EXPECT_EQ(FileSize(File("opened")), 1000u);
      } else if (existed) {
        EXPECT_EQ(ReadFileBytes(File("opened")), old);
      } else {
        EXPECT_FALSE(FileExists(File("opened")));
      }
      EXPECT_EQ(testing_support::PartFileCount(dir_.path()), 0);
    }
  }
}

// A held write keeps the job running while the window is checked, then Abort stops it.
TEST_F(JobControlTest, AbortMidJobOffersDeletionAndTheWindowIgnoresCommandsMeanwhile) {
  WriteFileBytes(File("plain"), testing_support::RandomBytes(3 * 262144 + 5, 4));
  for (PromptAnswer answer : {PromptAnswer::No, PromptAnswer::Yes}) {
    testing_support::FaultPlan plan;
    plan.writeFault = testing_support::Fault::Hold;
    testing_support::ScopedFileIo io(plan);
    unlink(File("partial").c_str());
    ChooseInput(File("plain"));
    ChooseOutput(File("partial"));
    const size_t before = Prompted();
    Click(kStart);
    ASSERT_TRUE(QTest::qWaitFor([&] { return io.Holding(); }, 10000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window_->windowTitle() == "Working - 033%"; }, 5000));
    EXPECT_FALSE(window_->IdleFlag());
    EXPECT_EQ(Text(kStart), "Abort");
    EXPECT_EQ(Colour(kStart), "#DD0000");
    EXPECT_EQ(Text(140), "Encrypting");
    EXPECT_EQ(Text(141), "Working - 033%");
    if (answer == PromptAnswer::No) SaveArtifact(*window_, "keytool_running.png");

    // Commands, typing, the file choices and closing are all ignored while the job runs.
    for (int id : {kMode, kDirection, kKeySize, kSaveAs, kClearInput, kClearOutput, kAccel, 108})
      Click(id);
    QTest::mouseClick(Control(60), Qt::LeftButton);
    QTest::keyClick(Control(1000), 'A');
    EXPECT_FALSE(window_->close());
    EXPECT_EQ(Text(kMode), "CTR");
    EXPECT_EQ(Text(kDirection), "Encrypt");
    EXPECT_EQ(Control<QLineEdit>(1000)->text(), "0");
    EXPECT_EQ(Prompted(), before);

    prompts_.QueueAnswer(answer);
    Click(kStart);  // Abort
    io.Release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window_->IdleFlag(); }, 10000));
    ExpectBox(LastBox(),
              "             Operation Aborted\r\nWould you like the output file deleted?",
              PromptIcon::None, PromptButtons::YesNo);
    EXPECT_EQ(Status(), "Encrypting | Aborted");
    EXPECT_EQ(window_->windowTitle(), "AES Moltra");
    if (answer == PromptAnswer::No)
      EXPECT_EQ(FileSize(File("partial")), 262144u);  // the chunk that was held, no more
    else
      EXPECT_FALSE(FileExists(File("partial")));
  }
}

TEST_F(JobControlTest, ReadAndWriteFailuresAreReportedWithoutOfferingDeletion) {
  WriteFileBytes(File("plain"), testing_support::RandomBytes(600000, 5));
  const struct {
    testing_support::FaultPlan plan;
    const char* text;
  } cases[] = {
      {{.readFault = testing_support::Fault::Fail, .readAt = 262144},
       "Error - Could not open the input file"},
      {{.writeFault = testing_support::Fault::Fail, .writeAt = 262144},
       "Error - Could not save the output file"},
  };
  for (const auto& c : cases) {
    testing_support::ScopedFileIo io(c.plan);
    ChooseInput(File("plain"));
    ChooseOutput(File("out"));
    RunJob();
    ExpectBox(LastBox(), c.text, PromptIcon::Error, PromptButtons::Ok);
    EXPECT_EQ(Status(), "Encrypting | Aborted");
    EXPECT_TRUE(FileExists(File("out")));
    EXPECT_EQ(io.log().faultsFired, 1);
  }
}

TEST_F(JobControlTest, ChoicesAndRefusalsBeforeAJob) {
  Click(kStart);  // no input, no output: nothing at all
  EXPECT_EQ(Prompted(), 0u);
  EXPECT_EQ(Colour(kStart), "#DD0000");

  WriteFileBytes(File("plain"), Bytes(100, 1));
  ChooseInput(File("plain"));
  EXPECT_EQ(Status(), "Open File | Set");
  Click(kStart);  // still no output
  EXPECT_EQ(Prompted(), 1u);
  ChooseOutput(File("plain"));  // the same name: refused, the output box emptied
  ExpectBox(LastBox(), "Input and output can not be the same file", PromptIcon::Error,
            PromptButtons::Ok);
  EXPECT_EQ(Status(), "Error | Input and output can not be the same file");
  EXPECT_EQ(OutputBox(), "");
  EXPECT_EQ(InputBox(), File("plain"));
  EXPECT_FALSE(window_->ReadyFlag());

  // The same file under another name is caught when the job opens its files.
  ASSERT_EQ(symlink(File("plain").c_str(), File("link").c_str()), 0);
  ChooseOutput(File("link"));
  EXPECT_EQ(Colour(kStart), "#008000");
  Click(kStart);
  ExpectBox(LastBox(), "Input and output can not be the same file", PromptIcon::Error,
            PromptButtons::Ok);
  EXPECT_EQ(ReadFileBytes(File("plain")), Bytes(100, 1));

  WriteFileBytes(File("sixteen"), Bytes(16, 2));
  WriteFileBytes(File("empty"), Bytes());
  const struct {
    const char* mode;
    const char* direction;
    const char* input;
    const char* output;
    const char* status;
  } refusals[] = {
      {"GCM", "Decrypt", "sixteen", "out",
       "Open File | Error - Input file is too small to contain a GCM authentication tag"},
      {"CBC", "Decrypt", "plain", "out",
       "Open File | Error - Input file is not a multiple of 16 bytes"},
      {"CTR", "Encrypt", "empty", "out", "Open File | Error - Input file contains zero bytes"},
      {"CTR", "Encrypt", "plain", "no/folder/out",
       "Save File As | Error - Could not save the output file"},
      {"CTR", "Encrypt", "gone", "out", "Open File | Error - Could not open the input file"},
      {"GCM", "Encrypt", "huge", "out",
       "Open File | Error - Input file is too large for GCM encryption"},
  };
  // One byte past what GCM's 32-bit block counter can encrypt, as a sparse file.
  WriteFileBytes(File("huge"), Bytes());
  ASSERT_EQ(truncate(File("huge").c_str(), 68719476705), 0);
  for (const auto& r : refusals) {
    SCOPED_TRACE(r.status);
    CycleTo(kMode, r.mode);
    CycleTo(kDirection, r.direction);
    WriteFileBytes(File("gone"), Bytes(5, 5));
    ChooseInput(File(r.input));
    ChooseOutput(File(r.output));
    unlink(File("gone").c_str());
    Click(kStart);
    EXPECT_TRUE(window_->IdleFlag());
    EXPECT_EQ(Status(), r.status);
    const std::string status = r.status;
    EXPECT_EQ(LastBox().text.toStdString(), status.substr(status.find(" - ") + 3));
    EXPECT_FALSE(FileExists(File("out")));
  }
  // A 100-byte file decrypts in CTR, a 17-byte file starts in GCM (and fails its tag).
  CycleTo(kMode, "CTR");
  CycleTo(kDirection, "Decrypt");
  ChooseInput(File("plain"));
  RunJob();
  EXPECT_EQ(FileSize(File("out")), 100u);
  WriteFileBytes(File("seventeen"), Bytes(17, 3));
  CycleTo(kMode, "GCM");
  ChooseInput(File("seventeen"));
  RunJob();
  EXPECT_EQ(Status(), "Decrypting | Error - Authentication Failure");

  // A name longer than the job's path buffer is refused, not cut.
  ChooseOutput(dir_.path() + "/" + std::string(300 - dir_.path().size(), 'n'));
  EXPECT_EQ(Status(), "Save File As | Error - The path is longer than 259 bytes");
  EXPECT_EQ(OutputBox(), File("out"));

  Click(kClearOutput);
  EXPECT_EQ(Status(), "Save File As | Removed");
  EXPECT_EQ(OutputBox(), "");
  Click(kClearInput);
  EXPECT_EQ(Status(), "Open File | Removed");
  EXPECT_EQ(InputBox(), "");
  window_->ShowStatus("Nothing", "Chosen");
  Click(kClearInput);  // nothing to clear
  EXPECT_EQ(Status(), "Nothing | Chosen");
}

TEST_F(JobControlTest, ShiftClickOffersThePseudoRandomSizesInTurnAndAJobWritesTheChosenOne) {
  const char* sizes[] = {"64 Megabytes",  "128 Megabytes", "256 Megabytes",
                         "512 Megabytes", "1 Gigabyte",    "2 Gigabytes"};
  for (const char* size : sizes) {
    ShiftClickOpen();
    EXPECT_EQ(InputBox(), QString("%1 of Pseudo Random").arg(size).leftJustified(30).toStdString());
    EXPECT_EQ(Status(), "Pseudo Random | Set");
  }
  QTest::mouseClick(Control(60), Qt::LeftButton, Qt::ControlModifier);  // nothing
  EXPECT_EQ(InputBox().substr(0, 11), "2 Gigabytes");
  WriteFileBytes(File("plain"), Bytes(10, 1));
  ChooseInput(File("plain"));  // a file drops the pseudo-random choice and its size
  ShiftClickOpen();
  EXPECT_EQ(InputBox().substr(0, 12), "64 Megabytes");
  ChooseOutput(File("random"));
  EXPECT_EQ(InputBox().substr(0, 12), "64 Megabytes");  // the output choice keeps the size text
  RunJob();
  ExpectBox(LastBox(), "   Operation Complete", PromptIcon::None, PromptButtons::Ok);
  EXPECT_EQ(Status(), "Pseudo Random | Complete");
  EXPECT_EQ(FileSize(File("random")), 67108864u);
  EXPECT_EQ(Text(kKeySize), "256 Bits");
}

TEST_F(JobControlTest, PresetPseudoRandomSizeAndTheInputLock) {
  window_.reset();
  settings_.prngSelected = true;
  settings_.prngSize = 4;
  settings_.locks = keytool::kLockInput;
  Make();
  EXPECT_EQ(InputBox(), QString("1 Gigabyte of Pseudo Random").leftJustified(30).toStdString());
  ChooseOutput(File("random"));
  EXPECT_TRUE(window_->ReadyFlag());
  ShiftClickOpen();
  Click(kClearInput);
  EXPECT_EQ(InputBox().substr(0, 10), "1 Gigabyte");
  EXPECT_EQ(Prompted(), 1u);  // only the output dialog
}

TEST_F(JobControlTest, AccelerationSwitchFollowsTheProcessor) {
  // Without AES instructions: only the message, the letter stays.
  acceleration_.text[0] = 'S';
  window_.reset();
  Make();
  Click(kAccel);
  EXPECT_EQ(Status(), "AES-NI | Hardware acceleration is not available, software only");
  EXPECT_EQ(Text(kAccel), "S");

  const engine::CpuFeatures real = engine::ReadCpuFeatures();
  if (!real.aes) GTEST_SKIP() << "this processor has no AES instructions";
  features_ = real;
  engine::SelectAesBackend(features_, acceleration_ = {});
  window_.reset();
  Make();
  Click(kAccel);
  EXPECT_EQ(Status(), "AES-NI | Hardware acceleration OFF, using software");
  EXPECT_EQ(Text(kAccel), "S");
  EXPECT_FALSE(engine::HardwareBackendActive());
  Click(kAccel);
  EXPECT_EQ(Status(), "AES-NI | Hardware acceleration ON");
  EXPECT_EQ(Text(kAccel), "H");
  EXPECT_TRUE(engine::HardwareBackendActive());
}

// The real dialogs, answered as a user answers them: neither the chosen files nor their folder
// are left in the user's configuration, and the desktop's dialog (which adds to the desktop's
// recent list) is never asked for.
TEST(RealFileDialogs, LeaveNoTraceInTheUsersConfiguration) {
  testing_support::TempDir home, chosen;
  const QByteArray oldHome = qgetenv("HOME"), oldConfig = qgetenv("XDG_CONFIG_HOME");
  qputenv("HOME", home.path().c_str());
  qputenv("XDG_CONFIG_HOME", home.File(".config").c_str());
  // Where Qt keeps a user's settings unless told otherwise.
  ASSERT_EQ(QSettings(QSettings::UserScope, "QtProject").fileName().toStdString(),
            home.File(".config/QtProject.conf"));
  panel::DialogPrompts prompts;
  WriteFileBytes(chosen.File("input-name"), Bytes(1, 1));
  const QString input = QString::fromStdString(chosen.File("input-name"));
  const QString output = QString::fromStdString(chosen.File("output-name"));
  for (bool open : {true, false}) {
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      EXPECT_TRUE(dialog->testOption(QFileDialog::DontUseNativeDialog));
      if (!open) dialog->selectFile(output);    // the open dialog offers its initial file
      static_cast<QDialog*>(dialog)->accept();  // as the dialog's own button does
    });
    EXPECT_EQ(open ? prompts.OpenFile(nullptr, input) : prompts.SaveFile(nullptr, QString()),
              open ? input : output);
  }
  const QByteArray folder = QString::fromStdString(chosen.path()).section('/', -1).toUtf8();
  for (QDirIterator file(QString::fromStdString(home.path()), QDir::Files | QDir::Hidden,
                         QDirIterator::Subdirectories);
       file.hasNext();) {
    QFile text(file.next());
    ASSERT_TRUE(text.open(QIODevice::ReadOnly));
    const QByteArray bytes = text.readAll();
    EXPECT_FALSE(bytes.contains(folder) || bytes.contains("-name"))
        << text.fileName().toStdString();
  }
  for (const auto& [name, value] : {std::pair{"HOME", oldHome}, {"XDG_CONFIG_HOME", oldConfig}})
    value.isNull() ? qunsetenv(name) : qputenv(name, value);
}

}  // namespace

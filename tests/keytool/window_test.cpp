// The key tool's window: config.ini and its locks, the IV and key panel, and its jobs.
#include "keytool/window.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QMimeData>

#include "keytool/key_panel.h"
#include "keytool/window_layout.h"
#include "tests/gui/window_driver.h"
#include "tests/support/job_runner.h"

namespace testing_gui {
namespace {

constexpr int kHide = 10, kDirection = 20, kKeySize = 30, kStart = 40, kMode = 50, kOpen = 60,
              kSaveAs = 70, kClearInput = 62;
constexpr int kIvRand = 102, kIvPaste = 104, kIvZero = 105, kKeyLoad = 106, kKeySave = 107,
              kKeyRand = 108, kKeyCopy = 109, kKeyPaste = 110, kKeyZero = 111;
constexpr char kIvHex[] = "F0E1D2C3B4A5968778695A4B3C2D1E0F";
constexpr char kKeyHex[] = "000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F";
constexpr char kComplete[] = "   Operation Complete";

class KeyToolTest : public WindowTest<keytool::KeyToolWindow, 140> {
 protected:
  // As the program starts it, minus the settings file: the AES tables are built first.
  void SetUp() override {
    BuildTablesOnce();
    window_ =
        std::make_unique<keytool::KeyToolWindow>(settings_, acceleration_, features_, prompts_);
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  }
  keytool::DigitCell* Cell(int index) { return Control<keytool::DigitCell>(1000 + index); }
  int Focused() { return qobject_cast<keytool::DigitCell*>(QApplication::focusWidget())->Index(); }
  void Press(Qt::Key key) { QTest::keyClick(QApplication::focusWidget(), key); }
  void Type(const char* keys) {  // each key to the cell that has the focus by then
    for (const char* k = keys; *k != '\0'; ++k)
      QTest::keyClick(QApplication::focusWidget(), *k);
  }
  std::string Digits(int first, int count) {
    std::string digits;
    for (int i = first; i < first + count; ++i)
      digits += Cell(i)->Digit();
    return digits;
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
  void Files(const std::string& input, const std::string& output) {
    Choose(kSaveAs, output);  // first, or the input could be refused as the output
    Choose(kOpen, input);
  }

  keytool::KeyToolSettings settings_;
  engine::AccelerationSetting acceleration_;
  engine::CpuFeatures features_ = engine::CpuFeaturesFromWords(engine::kMmxSse2Bits, 0);
};

// config.ini read from the working directory: its choices shown, its locks freezing labels,
// buttons and the input, its pseudo-random size written by a job.
TEST_F(KeyToolTest, ConfigIniPresetsTheWindowAndItsLocksFreezeLabelsButtonsAndInput) {
  const std::string ini =
      "Key Size 128\r\nHide\r\nPRNG 64MB\r\nLock Key Size\r\nLock PRNG\r\n"
      "Lock Key Rand";
  WriteFileBytes(File("config.ini"), Bytes(ini.begin(), ini.end()));
  const QString previous = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(dir_.path())));
  window_ = keytool::StartKeyTool(engine::ReadCpuFeatures(), settings_, acceleration_, prompts_);
  QDir::setCurrent(previous);
  EXPECT_EQ(Control<QLineEdit>(1000)->displayText(), "-");
  for (int id : {kKeySize, kKeyRand, kOpen, kClearInput})
    Click(id);
  Click(kOpen, Qt::ShiftModifier);
  EXPECT_EQ(Text(kKeySize) + Text(140), "128 BitsAES Moltra V2.00");  // and nothing shown
  EXPECT_EQ(Control<QLineEdit>(61)->text(), "64 Megabytes of Pseudo Random ");
  EXPECT_EQ(prompts_.Records().size(), 0u);  // no dialog
  Click(kKeyZero);                           // not frozen
  EXPECT_EQ(Status(), "Zero Key | Successful");
  Choose(kSaveAs, File("random"));
  ExpectBox(RunJob(kStart, PromptAnswer::Ok), kComplete, PromptIcon::None, PromptButtons::Ok);
  EXPECT_EQ(Status(), "Pseudo Random | Complete");
  EXPECT_EQ(FileSize(File("random")), 67108864u);
}

TEST_F(KeyToolTest, CellsTakeHexDigitsFocusSkipsHiddenCellsAndEcbOrAJobFreezeButtons) {
  CycleTo(kMode, "GCM");
  Cell(21)->setFocus();
  Type("ag z.9f");  // not hexadecimal: nothing changes, the focus stays; the 24th digit wraps
  EXPECT_EQ(Digits(21, 3) + std::to_string(Focused()), "A9F0");
  Press(Qt::Key_Left);
  Press(Qt::Key_Tab);  // Tab skips the hidden IV cells into the key
  EXPECT_EQ(Focused(), 32);
  Cell(36)->setFocus();
  Press(Qt::Key_Down);  // from the first key row to the second
  EXPECT_EQ(Focused(), 68);
  CycleTo(kMode, "ECB");  // the IV buttons take the box colour and do nothing
  EXPECT_EQ(Colour(kIvZero), "#CECECE");
  Click(kIvZero);
  window_->SetIdleFlag(false);  // a job runs: no cell or button acts
  Type("7");
  Click(kKeyZero);
  EXPECT_EQ(Digits(32, 1) + Status().toStdString(), "0Mode of Operation | Electronic Codebook");
}

TEST_F(KeyToolTest, PasteAndCopyWithTheirRefusalsAndLimits) {
  const std::string before = Digits(32, 64);
  const QString separated = QString("AA-").repeated(31) + "AA";  // 95 characters, 256 bits
  const char* length = "Error - Only 64 or 95 [0-9 A-F] characters can be pasted";
  for (const auto& [text, message] :
       {std::pair{QString(65, 'A'), length},
        {separated + "\n", length},
        {QString(63, 'A') + QChar(0x0663), "Error - Only ASCII 0-9 A-F can be pasted"}}) {
    Paste(kKeyPaste, text);
    EXPECT_EQ(Text(141), message) << text.size();
    EXPECT_EQ(Digits(32, 64), before);
  }
  QGuiApplication::clipboard()->setMimeData(new QMimeData);  // no text at all
  Click(kKeyPaste);
  EXPECT_EQ(Text(141), "Error - There is no ASCII text on the clipboard");
  Click(kIvRand);  // a GCM IV paste clears the four hidden IV bytes
  CycleTo(kMode, "GCM");
  Paste(kIvPaste, "11:22:33:44:55:66:77:88:99:AA:BB:CC");
  CycleTo(kMode, "CTR");
  EXPECT_EQ(Digits(0, 32), "112233445566778899AABBCC00000000");
  // A clipboard that does not keep the text (another program takes it over at once).
  QObject::connect(
      QGuiApplication::clipboard(), &QClipboard::dataChanged, window_.get(),
      [] { QGuiApplication::clipboard()->setText("taken"); }, Qt::SingleShotConnection);
  Click(kKeyCopy);
  EXPECT_EQ(Status(), "Copy Key | Error - Could not copy to the clipboard");
}

TEST_F(KeyToolTest, KeyFilesAndConfidentialModeHidingOnlyTheLook) {
  WriteFileBytes(File("short"), RandomBytes(23, 1));
  Choose(kKeyLoad, File("short"));
  EXPECT_EQ(Status(), "Load Key | Error - There are too few bytes in the file");
  window_->SetInputPath("/home/user/Documents/report.pdf");
  window_->SetOutputPath("/home/user/Documents/report.pdf.aes");
  Click(kIvRand);
  Click(kKeyRand);
  SaveArtifact("guide_aesmoltra.png");  // the user's guide shows this one
  CycleTo(kKeySize, "128 Bits");
  Click(kHide);
  EXPECT_EQ(Cell(40)->displayText(), "-");
  EXPECT_EQ(Control<QLineEdit>(61)->displayText(), QString(31, '-'));
  Click(kKeyCopy);
  EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), Digits(32, 32));  // the real ones
  Choose(kKeySave, File("saved"));
  EXPECT_EQ(ReadFileBytes(File("saved")).size(), 16u);
}

TEST_F(KeyToolTest, PathArgumentAndDroppedFileAreTakenAsOpenTakesThem) {
  ExpectPathsFromOutsideOpened(1005, 61, kSaveAs, "aesmoltra-path.png");
}

// "Open" reports no clicks (its presses reach the window), yet is a button like the others.
TEST_F(KeyToolTest, ControlsToAssistiveTechnologyAndShortcutsClickThem) {
  ExpectAccessible(
      keytool::layout::kControls,
      [](const auto& c) { return (c.style & keytool::layout::kNotify) || c.id == kOpen; },
      {{1038, "Key digit 7"}, {1006, "IV digit 7"}, {61, "Input file"}, {kStart, "Start"}});
  ExpectPressOpens(kOpen);
  ExpectShortcuts(1000);
}

// What the console makes of the same file with the same key and IV, in GCM with 128 bits.
Bytes ConsoleOutput(const std::string& input, const std::string& output) {
  QStringList args = QString("Moltra E 128 GCM").split(' ');
  args << QString(kIvHex).left(24) << QString(kKeyHex).left(32) << input.c_str() << output.c_str();
  EXPECT_EQ(QProcess::execute(AESTARNEX_PATH, args), 0);
  return ReadFileBytes(output);
}

// The modes themselves are proven in the engine and the console; here the run in the window.
TEST_F(KeyToolTest, GcmEncryptionMatchesTheConsoleAndDecryptsBackThroughTheWindow) {
  const Bytes plain = RandomBytes(70001, 7);
  WriteFileBytes(File("plain"), plain);
  Paste(kIvPaste, kIvHex);
  Paste(kKeyPaste, kKeyHex);
  CycleTo(kMode, "GCM");
  CycleTo(kKeySize, "128 Bits");
  Files(File("plain"), File("sealed"));
  ExpectBox(RunJob(kStart, PromptAnswer::Ok), kComplete, PromptIcon::None, PromptButtons::Ok);
  EXPECT_EQ(prompts_.Records().back().ownerCaption, "Complete");
  EXPECT_EQ(Status(), "Encrypting | Complete");
  EXPECT_EQ(ReadFileBytes(File("sealed")), ConsoleOutput(File("plain"), File("console")));
  CycleTo(kDirection, "Decrypt");
  Files(File("sealed"), File("opened"));
  BeforeJobEnd lateAbort(*window_, [&] { Click(kStart); });  // changes no verdict
  EXPECT_EQ(RunJob(kStart, PromptAnswer::Ok).text,
            "      Operation Complete\r\nAuthentication Tag Correct");
  EXPECT_EQ(Status(), "Decrypting | Complete");
  EXPECT_EQ(ReadFileBytes(File("opened")), plain);
  // The job's key material is gone once the job has ended.
  EXPECT_EQ(Bytes(window_->Jobs().Job().key, window_->Jobs().Job().key + 32), Bytes(32, 0));
}

// Yes deletes what the job wrote, so an output that existed stays; No keeps the job's output, in
// place of one that existed. An Abort landing after the verdict changes nothing.
TEST_F(KeyToolTest, ChangedGcmFileOffersDeletionYesDeletesNoKeeps) {
  WriteFileBytes(File("plain"), RandomBytes(1000, 3));
  CycleTo(kMode, "GCM");
  Files(File("plain"), File("sealed"));
  RunJob(kStart, PromptAnswer::Ok);
  Bytes sealed = ReadFileBytes(File("sealed"));
  sealed[500] ^= 1;
  WriteFileBytes(File("changed"), sealed);
  CycleTo(kDirection, "Decrypt");
  const Bytes old = RandomBytes(300, 9);
  for (PromptAnswer answer : {PromptAnswer::No, PromptAnswer::Yes}) {
    for (bool existed : {false, true}) {
      unlink(File("opened").c_str());
      if (existed) WriteFileBytes(File("opened"), old);
      Files(File("changed"), File("opened"));
      BeforeJobEnd lateAbort(*window_, [&] { Click(kStart); });
      ExpectBox(RunJob(kStart, answer),
                "GCM Authentication Failure\r\nIncorrect IV / Key or damaged file\r\n\r\n"
                "Would you like the output file deleted?",
                PromptIcon::Error, PromptButtons::YesNo);
      EXPECT_EQ(Status(), "Decrypting | Error - Authentication Failure");
      const Bytes left = FileExists(File("opened")) ? ReadFileBytes(File("opened")) : Bytes();
      EXPECT_EQ(left.size(), answer == PromptAnswer::No ? 1000u : existed ? 300u : 0u) << existed;
      EXPECT_TRUE(answer == PromptAnswer::No || left.empty() || left == old);
      EXPECT_EQ(PartFileCount(dir_.path()), 0);
    }
  }
}

// A held write keeps the job running while the window is checked, then Abort stops it.
TEST_F(KeyToolTest, AbortMidJobOffersDeletionAndTheWindowIgnoresCommandsMeanwhile) {
  WriteFileBytes(File("plain"), RandomBytes(3 * 262144 + 5, 4));
  Files(File("plain"), File("partial"));
  ScopedFileIo io({.writeFault = Fault::Hold});
  Click(kStart);
  ASSERT_TRUE(QTest::qWaitFor([&] { return io.Holding(); }, 10000));
  ASSERT_TRUE(QTest::qWaitFor([&] { return window_->windowTitle() == "Working - 033%"; }, 5000));
  EXPECT_EQ(Text(kStart) + " " + Status(), "Abort Encrypting | Working - 033%");
  for (int id : {kMode, kDirection, kKeySize, kOpen, kSaveAs, kClearInput, 142, kKeyRand})
    Click(id);
  QTest::keyClick(Control(1000), 'A');
  EXPECT_FALSE(window_->close());
  EXPECT_EQ(Text(kMode) + Text(kDirection) + Control<QLineEdit>(1000)->text(), "CTREncrypt0");
  EXPECT_EQ(prompts_.Records().size(), 2u);  // the two file dialogs
  ExpectAbortOfHeldJob(io, kStart, "Encrypting | Aborted");
  EXPECT_EQ(FileSize(File("partial")), 262144u);  // the chunk that was held, no more
  EXPECT_FALSE(window_->close());                 // idle: asked, and the default answer is No
  EXPECT_EQ(LastBox().text, "Are You Sure?");
  EXPECT_EQ(LastBox().defaultButton, PromptAnswer::No);
}

TEST_F(KeyToolTest, RefusalsBeforeAJobAndFailuresDuringOne) {
  WriteFileBytes(File("plain"), Bytes(600000, 1));
  Files(File("plain"), File("plain"));  // the same name: refused, the input box emptied
  EXPECT_EQ(Status(), "Error | Input and output can not be the same file");
  // The job's path buffer holds 259 bytes: a longer name is refused, not cut.
  const std::string longest = dir_.path() + "/" + std::string(258 - dir_.path().size(), 'n');
  Choose(kSaveAs, longest + "n");
  EXPECT_EQ(Status(), "Save File As | Error - The path is longer than 259 bytes");
  Choose(kSaveAs, longest);
  EXPECT_EQ(Status(), "Save File As | Set");

  ASSERT_EQ(symlink(File("plain").c_str(), File("link").c_str()), 0);
  const struct {
    const char *input, *output, *status, *box;
    FaultPlan plan;
  } cases[] = {
      // clang-format off
      {"plain", "link", "Error | Input and output can not be the same file", nullptr, {}},
      {"plain", "no/dir/out", "Save File As | Error - Could not save the output file", nullptr, {}},
      {"gone", "out", "Open File | Error - Could not open the input file", nullptr, {}},
      // During the run: the whole text in the box, no deletion offered, the output stays.
      {"plain", "out", "Encrypting | Aborted", "Error - Could not open the input file",
       {.readFault = Fault::Fail, .readAt = 262144}},
      {"plain", "out", "Encrypting | Aborted", "Error - Could not save the output file",
       {.writeFault = Fault::Fail, .writeAt = 262144}},
      // clang-format on
  };
  for (const auto& c : cases) {
    Files(File(c.input), File(c.output));
    ScopedFileIo io(c.plan);
    ExpectBox(RunJob(kStart, PromptAnswer::Yes),
              c.box ? c.box : QString(c.status).section(" | ", 1).remove("Error - "),
              PromptIcon::Error, PromptButtons::Ok);
    EXPECT_EQ(Status(), c.status);
    EXPECT_EQ(FileExists(File("out")), c.box != nullptr);
  }
  EXPECT_EQ(ReadFileBytes(File("plain")), Bytes(600000, 1));
}

}  // namespace
}  // namespace testing_gui

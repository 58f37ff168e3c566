// The IV and key panel through the real window: typing, focus moves, visibility, and the twelve
// buttons with the clipboard, key files, random and zero digits.
#include "keytool/key_panel.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>

#include <string>

#include "tests/keytool/window_fixture.h"
#include "tests/support/test_files.h"

namespace {

using keytool::DigitCell;
using namespace testing_gui;

constexpr int kIvLoad = 100, kIvRand = 102, kIvCopy = 103, kIvPaste = 104, kIvZero = 105;
constexpr int kKeyLoad = 106, kKeySave = 107, kKeyRand = 108, kKeyCopy = 109, kKeyPaste = 110,
              kKeyZero = 111;

class KeyPanelTest : public KeyToolWindowTest {
 protected:
  void SetUp() override {
    Make();
    ShowActive(*window_);
  }
  DigitCell* Cell(int index) { return Control<DigitCell>(keytool::kFirstCellId + index); }
  int Focused() {
    auto* cell = dynamic_cast<DigitCell*>(QApplication::focusWidget());
    return cell != nullptr ? cell->Index() : -1;
  }
  void Type(const char* keys) {
    for (const char* k = keys; *k != '\0'; ++k)
      QTest::keyClick(QApplication::focusWidget(), *k);
  }
  void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(QApplication::focusWidget(), key, modifiers);
  }
  // The digits of cells [first, first + count).
  std::string Digits(int first, int count) {
    std::string digits;
    for (int i = first; i < first + count; ++i)
      digits += Cell(i)->Digit();
    return digits;
  }
  std::string Shown(int first, int count) {
    std::string shown;
    for (int i = first; i < first + count; ++i)
      shown += Cell(i)->isHidden() ? '.' : '#';
    return shown;
  }
  void CycleTo(int id, const QString& label) {
    for (int n = 0; n < 7 && Text(id) != label; ++n)
      Click(id);
    ASSERT_EQ(Text(id), label);
  }
  void SetClipboard(const QString& text) { QGuiApplication::clipboard()->setText(text); }
  QString Clipboard() { return QGuiApplication::clipboard()->text(); }
  std::string Status() { return (Text(140) + " | " + Text(141)).toStdString(); }
};

TEST_F(KeyPanelTest, TypingFoldsCaseTakesOnlyHexDigitsAndMovesOn) {
  Cell(0)->setFocus();
  Type("a");
  EXPECT_EQ(Cell(0)->text(), "A");
  EXPECT_EQ(Focused(), 1);
  Type("g z.");  // not hexadecimal: nothing changes, the focus stays
  Press(Qt::Key_Backspace);
  Press(Qt::Key_Delete);
  Press(Qt::Key_Home);
  EXPECT_EQ(Digits(0, 4), "A000");
  EXPECT_EQ(Focused(), 1);
  Type("9fF");
  EXPECT_EQ(Digits(0, 5), "A9FF0");

  // No clipboard, undo, selection paste or context menu on a cell.
  SetClipboard("E");
  Cell(4)->setFocus();
  Press(Qt::Key_V, Qt::ControlModifier);
  Press(Qt::Key_Insert, Qt::ShiftModifier);
  Press(Qt::Key_Z, Qt::ControlModifier);
  QTest::mouseClick(Cell(4), Qt::MiddleButton);
  QTest::mouseDClick(Cell(4), Qt::LeftButton);
  EXPECT_EQ(Digits(0, 5), "A9FF0");

  window_->SetIdleFlag(false);  // a running job: the cells take nothing
  Type("7");
  Press(Qt::Key_Right);
  EXPECT_EQ(Digits(4, 1), "0");
  EXPECT_EQ(Focused(), 4);
}

TEST_F(KeyPanelTest, FocusWrapsInsideEachFieldAndFollowsModeAndKeySize) {
  CycleTo(50, "GCM");
  Cell(20)->setFocus();
  Type("1234");  // the 24th digit wraps to the first IV cell
  EXPECT_EQ(Focused(), 0);
  Press(Qt::Key_Left);
  EXPECT_EQ(Focused(), 23);
  Press(Qt::Key_Up);
  Press(Qt::Key_Down);  // nothing in the IV row
  EXPECT_EQ(Focused(), 23);
  Press(Qt::Key_Tab);  // Tab skips the hidden IV cells into the key
  EXPECT_EQ(Focused(), 32);

  CycleTo(30, "192 Bits");
  Cell(32 + 19)->setFocus();  // 20th cell of the first row: its partner is hidden
  Press(Qt::Key_Down);
  EXPECT_EQ(Focused(), 51);
  Cell(32 + 4)->setFocus();
  Press(Qt::Key_Down);
  EXPECT_EQ(Focused(), 68);
  Press(Qt::Key_Up);
  EXPECT_EQ(Focused(), 36);
  Cell(79)->setFocus();
  Press(Qt::Key_Right);  // the last 192-bit key cell wraps to the first
  EXPECT_EQ(Focused(), 32);
  Press(Qt::Key_Left);
  EXPECT_EQ(Focused(), 79);
  Press(Qt::Key_Tab);  // round to the first shown cell
  EXPECT_EQ(Focused(), 0);

  CycleTo(30, "128 Bits");
  Cell(40)->setFocus();
  Press(Qt::Key_Down);
  EXPECT_EQ(Focused(), 40);
  Cell(63)->setFocus();
  Type("c");
  EXPECT_EQ(Focused(), 32);
}

TEST_F(KeyPanelTest, ModeAndKeySizeHideCellsWhoseDigitsComeBackUnchanged) {
  for (int i = 0; i < keytool::kCellCount; ++i)
    Cell(i)->SetDigit("0123456789ABCDEF"[i % 16]);
  const std::string all = Digits(0, 96);
  const struct {
    int id;
    const char* label;
    std::string iv, key;
  } steps[] = {
      {50, "GCM", std::string(24, '#') + std::string(8, '.'), std::string(64, '#')},
      {50, "ECB", std::string(32, '.'), std::string(64, '#')},
      {50, "PCBC", std::string(32, '#'), std::string(64, '#')},
      {50, "CTR", std::string(32, '#'), std::string(64, '#')},
      {30, "128 Bits", std::string(32, '#'), std::string(32, '#') + std::string(32, '.')},
      {30, "192 Bits", std::string(32, '#'), std::string(48, '#') + std::string(16, '.')},
      {30, "256 Bits", std::string(32, '#'), std::string(64, '#')},
  };
  for (const auto& s : steps) {
    CycleTo(s.id, s.label);
    EXPECT_EQ(Shown(0, 32), s.iv) << s.label;
    EXPECT_EQ(Shown(32, 64), s.key) << s.label;
  }
  EXPECT_EQ(Digits(0, 96), all);
}

// Every field length, both text forms, lower-case digits: a pasted text copies back upper case.
TEST_F(KeyPanelTest, PasteAndCopyRoundTripForEveryFieldLength) {
  const struct {
    const char* mode;
    const char* keySize;
    int button;  // Paste; Copy is the one before it
    int first, digits;
  } fields[] = {{"GCM", "256 Bits", kIvPaste, 0, 24},
                {"CTR", "256 Bits", kIvPaste, 0, 32},
                {"CTR", "128 Bits", kKeyPaste, 32, 32},
                {"CTR", "192 Bits", kKeyPaste, 32, 48},
                {"CTR", "256 Bits", kKeyPaste, 32, 64}};
  const std::string hex = "0f1e2d3c4b5a69788796a5b4c3d2e1f00123456789abcdefFEDCBA9876543210";
  for (const auto& f : fields) {
    SCOPED_TRACE(std::string(f.mode) + " " + f.keySize + " " + std::to_string(f.digits));
    CycleTo(50, f.mode);
    CycleTo(30, f.keySize);
    const std::string plain = hex.substr(0, static_cast<size_t>(f.digits));
    std::string separated;
    for (size_t k = 0; k < plain.size(); k += 2)
      separated.append(k ? "-" : "").append(plain, k, 2);
    std::string upper = plain;
    for (char& c : upper)
      c = static_cast<char>(toupper(c));
    for (const std::string& text : {plain, separated}) {
      Click(kIvZero);
      Click(kKeyZero);
      SetClipboard(QString::fromStdString(text));
      Click(f.button);
      EXPECT_EQ(Status(),
                (f.button == kIvPaste ? "Paste IV" : "Paste Key") + std::string(" | Successful"));
      EXPECT_EQ(Digits(f.first, f.digits), upper);
      SetClipboard("");
      Click(f.button - 1);
      EXPECT_EQ(Clipboard().toStdString(), upper);
      SetClipboard(Clipboard());
      Click(f.button);  // pasted back unchanged
      EXPECT_EQ(Digits(f.first, f.digits), upper);
    }
  }
  // A clipboard that does not keep the text (another program takes it over at once).
  QObject::connect(
      QGuiApplication::clipboard(), &QClipboard::dataChanged, window_.get(),
      [] { QGuiApplication::clipboard()->setText("taken"); }, Qt::SingleShotConnection);
  Click(kKeyCopy);
  EXPECT_EQ(Status(), "Copy Key | Error - Could not copy to the clipboard");
}

TEST_F(KeyPanelTest, PasteRefusalsLeaveTheFieldAndAcceptedPastesClearTheHiddenPart) {
  CycleTo(30, "128 Bits");
  Click(kKeyRand);
  const std::string before = Digits(32, 64);
  const struct {
    QString text;
    const char* message;
  } refused[] = {
      {QString(33, 'A'), "Error - Only 32 or 47 [0-9 A-F] characters can be pasted"},
      {QString(32, 'A') + "\n", "Error - Only 32 or 47 [0-9 A-F] characters can be pasted"},
      {QString(200, 'A'), "Error - Only 32 or 47 [0-9 A-F] characters can be pasted"},
      {QString(31, 'A') + "G", "Error - Only ASCII 0-9 A-F can be pasted"},
      {QString(31, 'A') + QChar(0x0663), "Error - Only ASCII 0-9 A-F can be pasted"},
  };
  for (const auto& r : refused) {
    SetClipboard(r.text);
    Click(kKeyPaste);
    EXPECT_EQ(Text(141), r.message) << r.text.size();
    EXPECT_EQ(Digits(32, 64), before);
  }
  QGuiApplication::clipboard()->setMimeData(new QMimeData);  // no text at all
  Click(kKeyPaste);
  EXPECT_EQ(Text(141), "Error - There is no ASCII text on the clipboard");
  EXPECT_EQ(Digits(32, 64), before);

  // A 128-bit paste zeroes the hidden second half; 256 bits then shows those zeros.
  SetClipboard(QString(32, '5'));
  Click(kKeyPaste);
  CycleTo(30, "256 Bits");
  EXPECT_EQ(Digits(32, 64), std::string(32, '5') + std::string(32, '0'));
  // A GCM IV paste clears the four hidden IV bytes.
  Click(kIvRand);
  CycleTo(50, "GCM");
  SetClipboard("11:22:33:44:55:66:77:88:99:AA:BB:CC");
  Click(kIvPaste);
  CycleTo(50, "CTR");
  EXPECT_EQ(Digits(0, 32), "112233445566778899AABBCC00000000");
}

TEST_F(KeyPanelTest, LoadAndSaveRawKeyFiles) {
  QTemporaryDir dir;
  const QString forty = dir.filePath("forty.bin"), short15 = dir.filePath("short.bin");
  std::vector<uint8_t> bytes(40);
  for (size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<uint8_t>(0xA0 + i);
  testing_support::WriteFileBytes(forty.toStdString(), bytes);
  testing_support::WriteFileBytes(short15.toStdString(), std::vector<uint8_t>(15, 1));

  for (const char* size : {"128 Bits", "192 Bits", "256 Bits"}) {
    CycleTo(30, size);
    Click(kKeyZero);
    prompts_.QueuePath(forty);
    Click(kKeyLoad);
    EXPECT_EQ(Status(), "Load Key | Successful");
    const int n = Text(30).left(3).toInt() / 8;
    std::string expected;
    for (int i = 0; i < 32; ++i)
      expected += QString::asprintf("%02X", i < n ? 0xA0 + i : 0).toStdString();
    EXPECT_EQ(Digits(32, 64), expected) << size;

    const QString saved = dir.filePath(QString("key%1.bin").arg(n));
    prompts_.QueuePath(saved);
    Click(kKeySave);
    EXPECT_EQ(Status(), "Save Key | Successful");
    EXPECT_EQ(testing_support::ReadFileBytes(saved.toStdString()),
              std::vector<uint8_t>(bytes.begin(), bytes.begin() + n));
    EXPECT_EQ(prompts_.Records().back().request.text, forty);  // Save offers the name Load chose
  }

  const std::string key = Digits(32, 64);
  prompts_.QueuePath(short15);
  Click(kKeyLoad);
  EXPECT_EQ(Status(), "Load Key | Error - There are too few bytes in the file");
  prompts_.QueuePath(dir.filePath("missing"));
  Click(kKeyLoad);
  EXPECT_EQ(Status(), "Load Key | Error - Could not read from the file");
  prompts_.QueuePath(dir.filePath("no/such/folder/key.bin"));
  Click(kKeySave);
  EXPECT_EQ(Status(), "Save Key | Error - Could not save the file");
  window_->ShowStatus("Before", "Cancel");
  Click(kKeyLoad);  // cancelled: silent
  EXPECT_EQ(Status(), "Before | Cancel");
  EXPECT_EQ(Digits(32, 64), key);

  CycleTo(50, "GCM");  // a 12-byte IV from the 40-byte file; the rest of the field is zero
  prompts_.QueuePath(forty);
  Click(kIvLoad);
  CycleTo(50, "CTR");
  EXPECT_EQ(Digits(0, 32), "A0A1A2A3A4A5A6A7A8A9AAAB00000000");
}

TEST_F(KeyPanelTest, RandAndZeroCoverTheWholeFieldAndConfidentialModeHidesOnlyTheLook) {
  CycleTo(50, "GCM");
  Click(kIvRand);
  EXPECT_EQ(Status(), "Pseudo Random IV | Successful");
  CycleTo(50, "CTR");
  EXPECT_NE(Digits(24, 8), std::string(8, '0'));  // the hidden cells took random digits too
  CycleTo(30, "128 Bits");
  Click(kKeyRand);
  const std::string key = Digits(32, 64);
  EXPECT_NE(key.substr(32), std::string(32, '0'));
  EXPECT_NE(key.substr(0, 32), key.substr(32));  // the two whitened halves are independent
  Click(kKeyRand);
  EXPECT_NE(Digits(32, 64), key);  // two calls differ
  CycleTo(30, "256 Bits");
  window_->SetInputPath("/home/user/Documents/report.pdf");
  window_->SetOutputPath("/home/user/Documents/report.pdf.aes");
  Click(kKeyRand);
  SaveArtifact(*window_, "guide_aesmoltra.png");  // the user's guide shows this one
  CycleTo(30, "128 Bits");

  Click(10);  // confidential
  EXPECT_EQ(Text(10), "Show");
  EXPECT_EQ(Cell(40)->displayText(), "-");
  EXPECT_EQ(Control<QLineEdit>(61)->echoMode(), QLineEdit::Password);
  Click(kKeyCopy);
  EXPECT_EQ(Clipboard().toStdString(), Digits(32, 32));  // the real digits
  Click(kKeyZero);
  EXPECT_EQ(Status(), "Zero Key | Successful");
  CycleTo(30, "256 Bits");
  EXPECT_EQ(Digits(32, 64), std::string(64, '0'));  // the hidden row too
  Click(kIvZero);
  EXPECT_EQ(Digits(0, 32), std::string(32, '0'));
  Click(10);
  EXPECT_EQ(Cell(40)->displayText(), "0");
}

TEST_F(KeyPanelTest, FrozenButtonsEcbIvButtonsAndButtonsDuringAJobDoNothing) {
  window_.reset();
  settings_.locks = keytool::kLockKeyRand | keytool::kLockIvTools;
  Make();
  window_->ShowStatus("Before", "Clicks");
  for (int id : {kKeyRand, kIvRand, kIvZero, kIvCopy})
    Click(id);
  EXPECT_EQ(Status(), "Before | Clicks");
  Click(kKeyZero);  // not frozen
  EXPECT_EQ(Status(), "Zero Key | Successful");

  settings_.locks = 0;
  CycleTo(50, "ECB");
  window_->ShowStatus("Before", "Clicks");
  Click(kIvZero);
  EXPECT_EQ(Status(), "Before | Clicks");
  window_->SetIdleFlag(false);
  Click(kKeyZero);
  Click(50);
  EXPECT_EQ(Status(), "Before | Clicks");
  EXPECT_EQ(Text(50), "ECB");
}

}  // namespace

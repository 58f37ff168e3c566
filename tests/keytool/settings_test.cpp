// "config.ini": file contents against the settings they must give.
#include "keytool/settings.h"

#include <gtest/gtest.h>

#include <string>

#include "keys/keyword_hash.h"
#include "tests/support/test_files.h"

namespace {

using engine::CipherMode;
using engine::Direction;
using engine::KeySize;
using keytool::KeyToolSettings;

KeyToolSettings Read(const std::string& text) {
  KeyToolSettings settings;
  keytool::ApplySettingsText(reinterpret_cast<const uint8_t*>(text.data()), text.size(), settings);
  return settings;
}

bool IsDefault(const KeyToolSettings& s) {
  const KeyToolSettings d;
  return s.confidential == d.confidential && s.direction == d.direction && s.keySize == d.keySize &&
         s.mode == d.mode && s.prngSelected == d.prngSelected && s.prngSize == d.prngSize &&
         s.locks == d.locks;
}

TEST(Settings, EveryRecognisedLineHashesAsPublished) {
  const struct {
    const char* line;
    uint32_t hash;
  } published[] = {
      {"Hide", 0x0D9C9071},           {"Encrypt", 0x01926510},
      {"Decrypt", 0x12F3D1F0},        {"Key Size 128", 0x056B1E30},
      {"Key Size 192", 0x133AE2E4},   {"Key Size 256", 0x655FB65A},
      {"Mode CTR", 0x060E1B64},       {"Mode GCM", 0x8CE3B389},
      {"Mode OFB", 0xB105F428},       {"Mode CFB", 0xA985D820},
      {"Mode CBC", 0xF2B6D5CB},       {"Mode ECB", 0x6C986000},
      {"Mode PCBC", 0x6ECFFA1B},      {"PRNG 64MB", 0x09504D58},
      {"PRNG 128MB", 0x20C7A564},     {"PRNG 256MB", 0x40796CB6},
      {"PRNG 512MB", 0x2AA3712C},     {"PRNG 1GB", 0x63F95204},
      {"PRNG 2GB", 0xAC8C5422},       {"PRNG 4GB", 0xBDB26AAC},
      {"PRNG 8GB", 0xDFFF0594},       {"PRNG 16GB", 0x0B3C1042},
      {"Lock Key Size", 0x65461719},  {"Lock Mode", 0xA8D21A95},
      {"Lock PRNG", 0xFA838D21},      {"Lock All Tools", 0xB720DF75},
      {"Lock IV Tools", 0xD995A195},  {"Lock IV Load", 0xC641C168},
      {"Lock IV Save", 0x806857F1},   {"Lock IV Rand", 0xA47049F4},
      {"Lock IV Copy", 0x51EDFF61},   {"Lock IV Paste", 0x7C12BFA9},
      {"Lock IV Zero", 0x491C8B9E},   {"Lock Key Tools", 0xFBE07CA5},
      {"Lock Key Load", 0xE91A2588},  {"Lock Key Save", 0x35F9FA15},
      {"Lock Key Rand", 0x99E3AF54},  {"Lock Key Copy", 0x8A074301},
      {"Lock Key Paste", 0xBC588469}, {"Lock Key Zero", 0x393B34B6},
  };
  for (const auto& p : published)
    EXPECT_EQ(p.hash, keys::KeywordHash(p.line, strlen(p.line)));
}

TEST(Settings, ChoicesTakeTheFirstMatchingLineInFileOrder) {
  const struct {
    const char* text;
    Direction direction;
    KeySize keySize;
    CipherMode mode;
  } cases[] = {
      {"Decrypt\r\nEncrypt\r\n", Direction::Decrypt, KeySize::Bits256, CipherMode::Ctr},
      {"decrypt", Direction::Decrypt, KeySize::Bits256, CipherMode::Ctr},  // no CR LF at the end
      {"DECRYPT\r\nKey Size 128\r\nKey Size 192\r\n", Direction::Decrypt, KeySize::Bits128,
       CipherMode::Ctr},
      {"mode gcm\r\nMode ECB\r\n", Direction::Encrypt, KeySize::Bits256, CipherMode::Gcm},
      // Nothing may stand before or after the text on its line.
      {"Decrypt \r\nMode  GCM\r\nGCM\r\n Key Size 128\r\n", Direction::Encrypt, KeySize::Bits256,
       CipherMode::Ctr},
  };
  for (const auto& c : cases) {
    const KeyToolSettings s = Read(c.text);
    EXPECT_EQ(c.direction, s.direction) << c.text;
    EXPECT_EQ(c.keySize, s.keySize) << c.text;
    EXPECT_EQ(c.mode, s.mode) << c.text;
  }
}

TEST(Settings, FilesThatChangeNothing) {
  for (const std::string& text : {std::string("Decrypt\nMode GCM\nHide\n"),  // LF only: one line
                                  std::string("\0Decrypt\r\nHide\r\n", 17),  // leading NUL
                                  std::string("Hide\rDecrypt\r\n"),          // lone CR in a line
                                  std::string("Decrypt\0\r\n", 10), std::string("")}) {
    EXPECT_TRUE(IsDefault(Read(text))) << text;
  }
}

TEST(Settings, OnlyTheFirst512BytesCount) {
  std::string text = std::string(505, 'x') + "\r\nDecrypt\r\n";  // cut to "Decry" at 512
  EXPECT_EQ(Direction::Encrypt, Read(text).direction);
  text = std::string(495, 'x') + "\r\nHide\r\nDecrypt\r\n";  // exactly 512 bytes
  EXPECT_TRUE(Read(text).confidential);
  EXPECT_EQ(Direction::Decrypt, Read(text).direction);
}

TEST(Settings, LocksAndThePseudoRandomChoice) {
  using namespace keytool;
  const struct {
    const char* text;
    bool prng;
    uint8_t size;
    LockMask locks;
  } cases[] = {
      {"Lock PRNG\r\n", false, 0, 0},
      {"Lock PRNG\r\nPRNG 1GB\r\nPRNG 64MB\r\n", true, 4, kLockInput},
      {"Lock Key Size\r\nLock Mode\r\n", false, 0, kLockKeySize | kLockMode},
      {"Lock IV Load\r\nLock Key Zero\r\n", false, 0, kLockIvLoad | kLockKeyZero},
      {"Lock IV Tools\r\nLock Key Copy\r\n", false, 0, kLockIvTools | kLockKeyCopy},
      {"Lock Key Tools\r\nLock IV Save\r\n", false, 0, kLockKeyTools | kLockIvSave},
      // "Lock All Tools" ends the reading of the button locks, wherever it stands.
      {"Lock IV Zero\r\nLock All Tools\r\nLock Mode\r\n", false, 0, kLockAllTools | kLockMode},
  };
  for (const auto& c : cases) {
    const KeyToolSettings s = Read(c.text);
    EXPECT_EQ(c.prng, s.prngSelected) << c.text;
    EXPECT_EQ(c.size, s.prngSize) << c.text;
    EXPECT_EQ(c.locks, s.locks) << c.text;
  }
  // The choices are honoured on either side of "Lock All Tools".
  const KeyToolSettings s = Read("Hide\r\nLock All Tools\r\nDecrypt\r\nPRNG 16GB\r\nMode PCBC\r\n");
  EXPECT_TRUE(s.confidential);
  EXPECT_EQ(Direction::Decrypt, s.direction);
  EXPECT_EQ(CipherMode::Pcbc, s.mode);
  EXPECT_EQ(8, s.prngSize);
}

TEST(Settings, TheFileIsReadByItsName) {
  testing_support::TempDir dir;
  KeyToolSettings s;
  keytool::ReadSettingsFile(s, dir.File("config.ini").c_str());  // missing: defaults
  EXPECT_TRUE(IsDefault(s));
  testing_support::WriteFileBytes(dir.File("config.ini"), {'H', 'i', 'd', 'e'});
  keytool::ReadSettingsFile(s, dir.File("config.ini").c_str());
  EXPECT_TRUE(s.confidential);
}

}  // namespace

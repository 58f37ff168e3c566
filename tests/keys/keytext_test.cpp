// Key and IV texts, key files, and the texts the two programs give about them.
#include "keys/keytext.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "keys/key_messages.h"
#include "tests/support/fault_injection.h"
#include "tests/support/test_files.h"

namespace {

using engine::CipherMode;
using engine::KeySize;
using keys::HexResult;
using keys::KeyFileResult;
using testing_support::Bytes;

constexpr size_t kItemLengths[] = {12, 16, 24, 32};
constexpr uint8_t kSentinel = 0x5A;
constexpr size_t kGuard = 8;  // sentinel bytes past the item catch writes beyond n

// Every nibble value in both positions once n reaches 16.
Bytes Pattern(size_t n) {
  Bytes bytes(n);
  for (size_t k = 0; k < n; ++k)
    bytes[k] = static_cast<uint8_t>((k % 16) << 4 | (15 - k % 16));
  return bytes;
}

std::string Text(const Bytes& bytes, char separator, bool upper) {
  std::string hex = testing_support::BytesToHex(bytes);  // lower case
  std::string text;
  for (size_t k = 0; k < bytes.size(); ++k) {
    if (k > 0 && separator != '\0') text += separator;
    for (char c : hex.substr(2 * k, 2))
      text += upper && c >= 'a' ? static_cast<char>(c - 32) : c;
  }
  return text;
}

struct Parsed {
  HexResult result;
  Bytes destination;  // n bytes then kGuard, filled with kSentinel beforehand
};

Parsed Parse(const std::string& text, size_t n) {
  Parsed parsed{HexResult::Ok, Bytes(n + kGuard, kSentinel)};
  parsed.result = keys::ParseHexText(text.data(), text.size(), parsed.destination.data(), n);
  return parsed;
}

Bytes Untouched(size_t n) {
  return Bytes(n + kGuard, kSentinel);
}

Bytes WithGuard(Bytes bytes) {
  bytes.insert(bytes.end(), kGuard, kSentinel);
  return bytes;
}

TEST(HexTextTest, BothFormsAnySeparatorEitherCaseRoundTripToUpperCase) {
  for (size_t n : kItemLengths) {
    const Bytes bytes = Pattern(n);
    std::vector<std::string> texts;
    for (bool upper : {true, false}) {
      texts.push_back(Text(bytes, '\0', upper));
      // The separator positions are never examined, so even a digit is accepted there.
      for (char separator : {':', '-', 'x', ' ', '7', '\n'})
        texts.push_back(Text(bytes, separator, upper));
    }
    for (const std::string& text : texts) {
      SCOPED_TRACE(testing::Message() << "n=" << n << " text=" << text);
      Parsed parsed = Parse(text, n);
      ASSERT_EQ(parsed.result, HexResult::Ok);
      EXPECT_EQ(parsed.destination, WithGuard(bytes));
    }
    std::string formatted(2 * n + kGuard, '#');
    keys::FormatHexText(bytes.data(), n, formatted.data());
    EXPECT_EQ(formatted, Text(bytes, '\0', true) + std::string(kGuard, '#'));
  }
}

TEST(HexTextTest, WrongLengthIsRefusedBeforeAnyCharacterIsLookedAt) {
  for (size_t n : kItemLengths) {
    const std::string plain = Text(Pattern(n), '\0', true);
    const std::string separated = Text(Pattern(n), ':', true);
    const std::string digits(3 * n, '1');
    const std::string texts[] = {
        "",
        digits.substr(0, 2 * n - 1),
        digits.substr(0, 2 * n + 1),
        digits.substr(0, 3 * n - 2),
        digits,
        plain + "\n",
        " " + plain,
        separated + "\r\n",
        std::string(2 * n + 1, 'g'),  // bad digits too: the length is what gets reported
    };
    for (const std::string& text : texts) {
      SCOPED_TRACE(testing::Message() << "n=" << n << " length=" << text.size());
      Parsed parsed = Parse(text, n);
      EXPECT_EQ(parsed.result, HexResult::LengthError);
      EXPECT_EQ(parsed.destination, Untouched(n));
    }
  }
}

TEST(HexTextTest, NonDigitInEitherNibbleOfAnyPairLeavesDestinationUntouched) {
  // Neighbours of each digit range, a letter past 'f' that folds to no digit, and bytes above
  // 127, among them ones a careless fold or mask would turn into 'A' or '0'.
  const unsigned char bad[] = {'/', ':',  '@',  'G',  '`',  'g',  'q',
                               ' ', '\0', 0x80, 0xB0, 0xC1, 0xE1, 0xFF};
  for (size_t n : kItemLengths) {
    for (size_t stride : {2u, 3u}) {
      const std::string good = Text(Pattern(n), stride == 3 ? '-' : '\0', false);
      for (size_t pair : {size_t{0}, n - 1}) {
        for (size_t nibble : {0u, 1u}) {
          for (unsigned char c : bad) {
            std::string text = good;
            text[pair * stride + nibble] = static_cast<char>(c);
            SCOPED_TRACE(testing::Message() << "n=" << n << " stride=" << stride << " pair=" << pair
                                            << " nibble=" << nibble << " byte=" << int{c});
            Parsed parsed = Parse(text, n);
            EXPECT_EQ(parsed.result, HexResult::CharacterError);
            EXPECT_EQ(parsed.destination, Untouched(n));
          }
        }
      }
    }
  }
}

class KeyFileTest : public testing::Test {
 protected:
  void SetUp() override { descriptors_ = testing_support::OpenDescriptorCount(); }
  void TearDown() override { EXPECT_EQ(testing_support::OpenDescriptorCount(), descriptors_); }

  KeyFileResult Load(const std::string& path, size_t n, Bytes& destination) {
    destination.assign(n + kGuard, kSentinel);
    return keys::LoadKeyFile(path.c_str(), destination.data(), n);
  }

  testing_support::TempDir dir_;
  int descriptors_ = 0;
};

TEST_F(KeyFileTest, LoadTakesTheFirstNBytesOfAnyFileLongEnough) {
  const Bytes contents = testing_support::RandomBytes(40, 7);
  for (size_t size : {0, 11, 12, 15, 16, 24, 31, 32, 40}) {
    const std::string path = dir_.File("key" + std::to_string(size));
    testing_support::WriteFileBytes(path, Bytes(contents.begin(), contents.begin() + size));
    for (size_t n : kItemLengths) {
      SCOPED_TRACE(testing::Message() << "file=" << size << " n=" << n);
      Bytes destination;
      if (size >= n) {
        ASSERT_EQ(Load(path, n, destination), KeyFileResult::Ok);
        EXPECT_EQ(destination, WithGuard(Bytes(contents.begin(), contents.begin() + n)));
      } else {
        EXPECT_EQ(Load(path, n, destination), KeyFileResult::TooShort);
        EXPECT_EQ(destination, Untouched(n));
      }
    }
  }
}

TEST_F(KeyFileTest, LoadFailures) {
  const std::string key = dir_.File("key");
  testing_support::WriteFileBytes(key, testing_support::RandomBytes(32, 3));
  Bytes destination;
  EXPECT_EQ(Load(dir_.File("missing"), 16, destination), KeyFileResult::OpenError);
  EXPECT_EQ(destination, Untouched(16));
  EXPECT_EQ(Load(dir_.path(), 16, destination), KeyFileResult::OpenError);
  EXPECT_EQ(destination, Untouched(16));
  {
    testing_support::FaultPlan plan;
    plan.readFault = testing_support::Fault::Fail;
    testing_support::ScopedFileIo io(plan);
    EXPECT_EQ(Load(key, 16, destination), KeyFileResult::TooShort);  // a read error reads short
  }
  EXPECT_EQ(destination, Untouched(16));
}

TEST_F(KeyFileTest, SaveWritesExactlyNBytesPrivatelyReplacingALongerFile) {
  const std::string fresh = dir_.File("fresh");
  const std::string existing = dir_.File("existing");
  for (size_t n : kItemLengths) {
    SCOPED_TRACE(testing::Message() << "n=" << n);
    const Bytes bytes = testing_support::RandomBytes(n, n);
    unlink(fresh.c_str());
    testing_support::WriteFileBytes(existing, Bytes(100, 0xEE));
    for (const std::string& path : {fresh, existing}) {
      ASSERT_EQ(keys::SaveKeyFile(path.c_str(), bytes.data(), n), KeyFileResult::Ok);
      EXPECT_EQ(testing_support::ReadFileBytes(path), bytes);
    }
    struct stat info;
    ASSERT_EQ(stat(fresh.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
  }
}

TEST_F(KeyFileTest, SaveFailures) {
  const Bytes bytes = testing_support::RandomBytes(16, 1);
  const std::string missingFolder = dir_.File("no/such/key");
  EXPECT_EQ(keys::SaveKeyFile(missingFolder.c_str(), bytes.data(), 16), KeyFileResult::WriteError);
  EXPECT_EQ(keys::SaveKeyFile(dir_.path().c_str(), bytes.data(), 16), KeyFileResult::WriteError);
  testing_support::FaultPlan plan;
  plan.writeFault = testing_support::Fault::Fail;
  testing_support::ScopedFileIo io(plan);
  const std::string key = dir_.File("key");
  EXPECT_EQ(keys::SaveKeyFile(key.c_str(), bytes.data(), 16), KeyFileResult::WriteError);
}

const char* const kIvLength96 = "Error - 96 bit IV can only be 24 or 35 [0-9 A-F] characters";
const char* const kIvLength128 = "Error - 128 bit IV can only be 32 or 47 [0-9 A-F] characters";
const char* const kKeyLength[] = {
    "Error - 128 bit key can only be 32 or 47 [0-9 A-F] characters",
    "Error - 192 bit key can only be 48 or 71 [0-9 A-F] characters",
    "Error - 256 bit key can only be 64 or 95 [0-9 A-F] characters",
};

TEST(KeyMessagesTest, ConsoleTextFollowsItemModeAndKeySize) {
  using keys::KeyArgumentError;
  using keys::KeyItem;
  const CipherMode modes[] = {CipherMode::Ctr, CipherMode::Gcm, CipherMode::Ofb, CipherMode::Cfb,
                              CipherMode::Cbc, CipherMode::Ecb, CipherMode::Pcbc};
  for (CipherMode mode : modes) {
    const bool gcm = mode == CipherMode::Gcm, ecb = mode == CipherMode::Ecb;
    for (KeySize size : {KeySize::Bits128, KeySize::Bits192, KeySize::Bits256}) {
      const size_t k = static_cast<size_t>(size);
      SCOPED_TRACE(testing::Message() << "mode=" << int(mode) << " size=" << k);
      EXPECT_EQ(keys::ItemBytes(KeyItem::Iv, mode, size), gcm ? 12u : ecb ? 0u : 16u);
      EXPECT_EQ(keys::ItemBytes(KeyItem::Key, mode, size), 16u + 8u * k);
      const std::string iv[] = {"Error - No Initialization Vector",
                                "Error - IV: There are too few bytes in the file",
                                gcm ? kIvLength96 : kIvLength128};
      const std::string key[] = {"Error - No Key",
                                 "Error - Key: There are too few bytes in the file", kKeyLength[k]};
      for (KeyArgumentError error :
           {KeyArgumentError::Empty, KeyArgumentError::TooFewBytes, KeyArgumentError::BadText}) {
        const size_t e = static_cast<size_t>(error);
        EXPECT_EQ(keys::ConsoleKeyArgumentText(KeyItem::Iv, error, mode, size), ecb ? "" : iv[e]);
        EXPECT_EQ(keys::ConsoleKeyArgumentText(KeyItem::Key, error, mode, size), key[e]);
      }
    }
  }
}

TEST(KeyMessagesTest, KeyToolTextsFollowOperationItemAndDigitCount) {
  using keys::KeyItem;
  using keys::KeyToolOperation;
  const char* const titles[2][4] = {{"Load IV", "Save IV", "Copy IV", "Paste IV"},
                                    {"Load Key", "Save Key", "Copy Key", "Paste Key"}};
  for (KeyItem item : {KeyItem::Iv, KeyItem::Key})
    for (KeyToolOperation op : {KeyToolOperation::Load, KeyToolOperation::Save,
                                KeyToolOperation::Copy, KeyToolOperation::Paste})
      EXPECT_STREQ(keys::KeyToolTitle(op, item),
                   titles[static_cast<size_t>(item)][static_cast<size_t>(op)]);

  for (size_t n : kItemLengths) {
    const std::string digits = std::to_string(2 * n), separated = std::to_string(3 * n - 1);
    EXPECT_EQ(
        keys::PasteResultText(HexResult::LengthError, n),
        "Error - Only " + digits + " or " + separated + " [0-9 A-F] characters can be pasted");
    EXPECT_STREQ(keys::PasteResultText(HexResult::CharacterError, n),
                 "Error - Only ASCII 0-9 A-F can be pasted");
    EXPECT_STREQ(keys::PasteResultText(HexResult::Ok, n), "Successful");
  }
  EXPECT_STREQ(keys::LoadResultText(KeyFileResult::Ok), "Successful");
  EXPECT_STREQ(keys::LoadResultText(KeyFileResult::OpenError),
               "Error - Could not read from the file");
  EXPECT_STREQ(keys::LoadResultText(KeyFileResult::TooShort),
               "Error - There are too few bytes in the file");
  EXPECT_STREQ(keys::SaveResultText(KeyFileResult::Ok), "Successful");
  EXPECT_STREQ(keys::SaveResultText(KeyFileResult::WriteError), "Error - Could not save the file");
}

}  // namespace

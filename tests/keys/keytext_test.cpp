// Key and IV texts, key files, and the texts the two programs give about them.
#include "keys/keytext.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <utility>
#include <vector>

#include "keys/key_messages.h"
#include "tests/support/fault_injection.h"
#include "tests/support/test_files.h"

namespace {

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
  const std::string hex = testing_support::BytesToHex(bytes);  // lower case
  std::string text;
  for (size_t k = 0; k < hex.size(); ++k) {
    if (k > 0 && k % 2 == 0 && separator != '\0') text += separator;
    text += upper ? static_cast<char>(toupper(hex[k])) : hex[k];
  }
  return text;
}

// The item followed by the guard, as a destination holds it after a call.
Bytes Guarded(Bytes bytes) {
  bytes.insert(bytes.end(), kGuard, kSentinel);
  return bytes;
}
Bytes Untouched(size_t n) {
  return Guarded(Bytes(n, kSentinel));
}

// Parses into n bytes of sentinels and the guard; returns the result and the destination after.
std::pair<HexResult, Bytes> Parse(const std::string& text, size_t n) {
  Bytes destination = Untouched(n);
  return {keys::ParseHexText(text.data(), text.size(), destination.data(), n), destination};
}

TEST(HexTextTest, BothFormsAnySeparatorEitherCaseRoundTripToUpperCase) {
  for (size_t n : kItemLengths) {
    const Bytes bytes = Pattern(n);
    for (bool upper : {true, false}) {
      // The separator positions are never examined, so even a digit is accepted there.
      for (char separator : {'\0', ':', '7', '\n'}) {
        const std::string text = Text(bytes, separator, upper);
        SCOPED_TRACE(text);
        EXPECT_EQ(Parse(text, n), std::make_pair(HexResult::Ok, Guarded(bytes)));
      }
    }
    std::string formatted(2 * n + kGuard, '#');
    keys::FormatHexText(bytes.data(), n, formatted.data());
    EXPECT_EQ(formatted, Text(bytes, '\0', true) + std::string(kGuard, '#'));
  }
}

// The length decides the form and is tested first, so non-digits of a wrong length are a length
// error; a non-digit in either nibble of the first or last pair is a character error. Neither
// changes the destination.
TEST(HexTextTest, RefusalsLeaveTheDestinationUntouched) {
  // Neighbours of each digit range, and bytes above 127 that a careless fold or mask would turn
  // into '0', 'A' or 'a'.
  const unsigned char bad[] = {'/',  ':',  '@',  'G',  '`',  'g', ' ',
                               '\0', 0x80, 0xB0, 0xC1, 0xE1, 0xFF};
  for (size_t n : kItemLengths) {
    const std::string nonDigits(3 * n, 'g');
    std::vector<std::pair<std::string, HexResult>> texts;
    for (size_t length : {size_t{0}, 2 * n - 1, 2 * n + 1, 3 * n - 2, 3 * n})
      texts.emplace_back(nonDigits.substr(0, length), HexResult::LengthError);
    texts.emplace_back(Text(Pattern(n), '\0', true) + "\n", HexResult::LengthError);
    for (char separator : {'\0', '-'}) {
      const std::string good = Text(Pattern(n), separator, false);
      for (size_t position : {size_t{0}, size_t{1}, good.size() - 2, good.size() - 1}) {
        for (unsigned char c : bad) {
          texts.emplace_back(good, HexResult::CharacterError);
          texts.back().first[position] = static_cast<char>(c);
        }
      }
    }
    for (const auto& [text, result] : texts) {
      SCOPED_TRACE(testing::Message() << "n=" << n << " text=" << text);
      EXPECT_EQ(Parse(text, n), std::make_pair(result, Untouched(n)));
    }
  }
}

class KeyFileTest : public testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(testing_support::OpenDescriptorCount(), descriptors_); }

  // Loads into n bytes of sentinels and the guard; returns the result and the destination after.
  std::pair<KeyFileResult, Bytes> Load(const std::string& path, size_t n) {
    Bytes destination = Untouched(n);
    return {keys::LoadKeyFile(path.c_str(), destination.data(), n), destination};
  }

  testing_support::TempDir dir_;
  const int descriptors_ = testing_support::OpenDescriptorCount();
};

TEST_F(KeyFileTest, LoadTakesTheFirstNBytesOfAFileLongEnough) {
  const Bytes contents = testing_support::RandomBytes(40, 7);
  const std::string path = dir_.File("key");
  for (size_t n : kItemLengths) {
    for (size_t size : {n - 1, n, size_t{40}}) {
      SCOPED_TRACE(testing::Message() << "file=" << size << " n=" << n);
      testing_support::WriteFileBytes(path, Bytes(contents.begin(), contents.begin() + size));
      const Bytes loaded = Guarded(Bytes(contents.begin(), contents.begin() + n));
      EXPECT_EQ(Load(path, n), size < n ? std::make_pair(KeyFileResult::TooShort, Untouched(n))
                                        : std::make_pair(KeyFileResult::Ok, loaded));
    }
  }
  EXPECT_EQ(Load(dir_.File("missing"), 16),
            std::make_pair(KeyFileResult::OpenError, Untouched(16)));
  EXPECT_EQ(Load(dir_.path(), 16), std::make_pair(KeyFileResult::OpenError, Untouched(16)));
}

// Every save leaves the file private to its owner, also one that replaces a readable file, and
// each later save replaces a longer file. A save that fails leaves the file that was there whole.
TEST_F(KeyFileTest, SaveWritesExactlyNBytesPrivately) {
  const std::string path = dir_.File("key");
  testing_support::WriteFileBytes(path, Bytes(40, 1));
  ASSERT_EQ(chmod(path.c_str(), 0644), 0);
  for (size_t n : {32, 24, 16, 12}) {
    const Bytes bytes = testing_support::RandomBytes(n, n);
    ASSERT_EQ(keys::SaveKeyFile(path.c_str(), bytes.data(), n), KeyFileResult::Ok);
    EXPECT_EQ(testing_support::ReadFileBytes(path), bytes);
  }
  struct stat info;
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  const Bytes saved = testing_support::ReadFileBytes(path);
  for (const testing_support::FaultPlan& plan :
       {testing_support::FaultPlan{.writeFault = testing_support::Fault::Fail},
        testing_support::FaultPlan{.closeFails = true}}) {
    testing_support::ScopedFileIo io(plan);
    EXPECT_EQ(keys::SaveKeyFile(path.c_str(), Pattern(16).data(), 16), KeyFileResult::WriteError);
    EXPECT_EQ(testing_support::ReadFileBytes(path), saved);
  }
  // A pipe (or a link to one, or to a device) is no key file to replace.
  const std::string pipe = dir_.File("pipe");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  EXPECT_EQ(keys::SaveKeyFile(pipe.c_str(), Pattern(16).data(), 16), KeyFileResult::WriteError);
  EXPECT_TRUE(stat(pipe.c_str(), &info) == 0 && S_ISFIFO(info.st_mode));
  EXPECT_EQ(testing_support::PartFileCount(dir_.path()), 0);
  const std::string missingFolder = dir_.File("no/such/key");
  EXPECT_EQ(keys::SaveKeyFile(missingFolder.c_str(), Pattern(16).data(), 16),
            KeyFileResult::WriteError);
}

// The console's texts follow the item's byte count for the mode and key size.
TEST(KeyMessagesTest, TextsFollowItemModeSizeAndResult) {
  using enum keys::KeyItem;
  using enum keys::KeyArgumentError;
  using enum keys::KeyToolOperation;
  using enum engine::CipherMode;
  using enum engine::KeySize;
  const struct {
    std::string text;
    const char* expected;
  } kTexts[] = {
      // clang-format off
      {keys::ConsoleKeyArgumentText(Iv, Empty, Cbc, Bits128),        "Error - No Initialization Vector"},
      {keys::ConsoleKeyArgumentText(Iv, TooFewBytes, Ctr, Bits256),  "Error - IV: There are too few bytes in the file"},
      {keys::ConsoleKeyArgumentText(Iv, BadText, Gcm, Bits192),      "Error - 96 bit IV can only be 24 or 35 [0-9 A-F] characters"},
      {keys::ConsoleKeyArgumentText(Iv, BadText, Ofb, Bits256),      "Error - 128 bit IV can only be 32 or 47 [0-9 A-F] characters"},
      {keys::ConsoleKeyArgumentText(Iv, Empty, Ecb, Bits128),        ""},
      {keys::ConsoleKeyArgumentText(Key, Empty, Ecb, Bits128),       "Error - No Key"},
      {keys::ConsoleKeyArgumentText(Key, TooFewBytes, Gcm, Bits192), "Error - Key: There are too few bytes in the file"},
      {keys::ConsoleKeyArgumentText(Key, BadText, Pcbc, Bits128),    "Error - 128 bit key can only be 32 or 47 [0-9 A-F] characters"},
      {keys::ConsoleKeyArgumentText(Key, BadText, Gcm, Bits192),     "Error - 192 bit key can only be 48 or 71 [0-9 A-F] characters"},
      {keys::ConsoleKeyArgumentText(Key, BadText, Cfb, Bits256),     "Error - 256 bit key can only be 64 or 95 [0-9 A-F] characters"},
      {keys::KeyToolTitle(Load, Iv),                                 "Load IV"},
      {keys::KeyToolTitle(Paste, Key),                               "Paste Key"},
      {keys::PasteResultText(HexResult::LengthError, 12),            "Error - Only 24 or 35 [0-9 A-F] characters can be pasted"},
      {keys::PasteResultText(HexResult::LengthError, 32),            "Error - Only 64 or 95 [0-9 A-F] characters can be pasted"},
      {keys::PasteResultText(HexResult::CharacterError, 16),         "Error - Only ASCII 0-9 A-F can be pasted"},
      {keys::PasteResultText(HexResult::Ok, 32),                     "Successful"},
      {keys::LoadResultText(KeyFileResult::OpenError),               "Error - Could not read from the file"},
      {keys::LoadResultText(KeyFileResult::TooShort),                "Error - There are too few bytes in the file"},
      {keys::SaveResultText(KeyFileResult::Ok),                      "Successful"},
      {keys::SaveResultText(KeyFileResult::WriteError),              "Error - Could not save the file"},
      // clang-format on
  };
  for (const auto& t : kTexts)
    EXPECT_EQ(t.text, t.expected);
}

}  // namespace

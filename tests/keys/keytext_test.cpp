// Key and IV texts and key files. A destination is n bytes of sentinels followed by a guard of
// more, so that a call that writes where it must not, or beyond n, shows.
#include "keys/keytext.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/support/fault_injection.h"
#include "tests/support/test_files.h"

namespace {

using keys::HexResult;
using keys::KeyFileResult;
using testing_support::Bytes;

constexpr size_t kItemLengths[] = {12, 16, 24, 32};

// Every nibble value in both positions once n reaches 16.
Bytes Pattern(size_t n) {
  Bytes bytes(n);
  for (size_t k = 0; k < n; ++k)
    bytes[k] = static_cast<uint8_t>((k % 16) << 4 | (15 - k % 16));
  return bytes;
}

std::string Text(const Bytes& bytes, char separator, bool upper) {
  std::string text;
  for (char c : testing_support::BytesToHex(bytes)) {  // lower case
    if (separator != '\0' && text.size() % 3 == 2) text += separator;
    text += upper ? static_cast<char>(toupper(c)) : c;
  }
  return text;
}

Bytes Guarded(Bytes bytes) {
  bytes.insert(bytes.end(), 8, 0x5A);
  return bytes;
}

std::pair<HexResult, Bytes> Parse(const std::string& text, size_t n) {
  Bytes destination = Guarded(Bytes(n, 0x5A));
  return {keys::ParseHexText(text.data(), text.size(), destination.data(), n), destination};
}

// Both forms, either case; the separator positions are never examined, so even a digit is
// accepted there. Formatting gives the plain upper-case form.
TEST(HexTextTest, BothFormsAnySeparatorEitherCaseRoundTripToUpperCase) {
  for (size_t n : kItemLengths) {
    const Bytes bytes = Pattern(n);
    for (bool upper : {true, false}) {
      for (char separator : {'\0', ':', '7', '\n'}) {
        const std::string text = Text(bytes, separator, upper);
        EXPECT_EQ(Parse(text, n), std::make_pair(HexResult::Ok, Guarded(bytes))) << text;
      }
    }
    std::string formatted(2 * n + 8, '#');
    keys::FormatHexText(bytes.data(), n, formatted.data());
    EXPECT_EQ(formatted, Text(bytes, '\0', true) + std::string(8, '#'));
  }
}

// The length decides the form and is tested first, so non-digits of a wrong length are a length
// error; a non-digit in either nibble of the first or last pair is a character error: neighbours
// of each digit range, and bytes above 127 that a careless fold or mask would turn into a digit.
// Neither changes the destination.
TEST(HexTextTest, RefusalsLeaveTheDestinationUntouched) {
  const unsigned char bad[] = {'/', ':', '@', 'G', '`', 'g', ' ', '\0', 0x80, 0xB0, 0xC1, 0xE1};
  for (size_t n : kItemLengths) {
    std::vector<std::pair<std::string, HexResult>> texts;
    for (size_t length : {size_t{0}, 2 * n - 1, 2 * n + 1, 3 * n - 2, 3 * n})
      texts.emplace_back(std::string(length, 'g'), HexResult::LengthError);
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
    for (const auto& [text, result] : texts)
      EXPECT_EQ(Parse(text, n), std::make_pair(result, Guarded(Bytes(n, 0x5A)))) << text;
  }
}

// Loading takes the first n bytes of a file long enough. Saving writes exactly n bytes, private
// to the owner even over a readable file, and a later save replaces a longer file; a save that
// fails leaves the file that was there whole and no temporary file behind.
TEST(KeyFileTest, LoadTakesTheFirstNBytesAndSaveReplacesOnlyOnSuccess) {
  testing_support::TempDir dir;
  const std::string path = dir.File("key");
  const int descriptors = testing_support::OpenDescriptorCount();
  const Bytes contents = testing_support::RandomBytes(40, 7);
  for (size_t n : kItemLengths) {
    for (size_t size : {n - 1, n}) {
      testing_support::WriteFileBytes(path, Bytes(contents.begin(), contents.begin() + size));
      Bytes destination = Guarded(Bytes(n, 0x5A));
      const KeyFileResult result = keys::LoadKeyFile(path.c_str(), destination.data(), n);
      EXPECT_EQ(result, size < n ? KeyFileResult::TooShort : KeyFileResult::Ok);
      EXPECT_EQ(destination,
                Guarded(size < n ? Bytes(n, 0x5A) : Bytes(contents.begin(), contents.begin() + n)));
    }
  }
  uint8_t item[16];
  EXPECT_EQ(keys::LoadKeyFile(dir.File("missing").c_str(), item, 16), KeyFileResult::OpenError);
  EXPECT_EQ(keys::LoadKeyFile(dir.path().c_str(), item, 16), KeyFileResult::OpenError);

  ASSERT_EQ(chmod(path.c_str(), 0644), 0);
  for (size_t n : {32, 12}) {
    ASSERT_EQ(keys::SaveKeyFile(path.c_str(), Pattern(n).data(), n), KeyFileResult::Ok);
    EXPECT_EQ(testing_support::ReadFileBytes(path), Pattern(n));
  }
  struct stat info;
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  for (const testing_support::FaultPlan& plan :
       {testing_support::FaultPlan{.writeFault = testing_support::Fault::Fail},
        testing_support::FaultPlan{.closeFails = true}}) {
    testing_support::ScopedFileIo io(plan);
    EXPECT_EQ(keys::SaveKeyFile(path.c_str(), Pattern(16).data(), 16), KeyFileResult::WriteError);
    EXPECT_EQ(testing_support::ReadFileBytes(path), Pattern(12));
  }
  // A pipe (or a link to one, or to a device) is no key file to replace.
  const std::string pipe = dir.File("pipe");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  EXPECT_EQ(keys::SaveKeyFile(pipe.c_str(), Pattern(16).data(), 16), KeyFileResult::WriteError);
  EXPECT_TRUE(stat(pipe.c_str(), &info) == 0 && S_ISFIFO(info.st_mode));
  EXPECT_EQ(testing_support::PartFileCount(dir.path()), 0);
  EXPECT_EQ(keys::SaveKeyFile(dir.File("no/key").c_str(), item, 16), KeyFileResult::WriteError);
  EXPECT_EQ(testing_support::OpenDescriptorCount(), descriptors);
}

}  // namespace

// The AES block cipher against published answers: the FIPS-197 examples and the AESAVS
// known-answer files (GFSbox, KeySbox, VarKey, VarTxt), on the software and the hardware pair,
// plus the key schedule's layout (last round key, inverse form) and the S-box fixed points.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <stdexcept>
#include <string>
#include <tuple>

#include "engine/aes.h"
#include "engine/backend.h"
#include "tests/support/job_runner.h"
#include "tests/support/openssl_oracle.h"
#include "tests/support/test_files.h"
#include "tests/support/vector_file.h"

namespace {

using testing_support::Bytes;
using testing_support::BytesToHex;
using testing_support::LoadVectorFile;
using testing_support::VectorFile;
using testing_support::VectorRecord;
using testing_support::VectorSchema;

const VectorSchema kFips197Schema{{"KEY", "PLAINTEXT", "CIPHERTEXT", "LASTROUNDKEY"}, {}};
const VectorSchema kKatSchema{{"KEY", "PLAINTEXT", "CIPHERTEXT"}, {}};

engine::KeySize KeySizeOf(const VectorRecord& record) {
  switch (record.Get("KEY").size()) {
    case 16:
      return engine::KeySize::Bits128;
    case 24:
      return engine::KeySize::Bits192;
    case 32:
      return engine::KeySize::Bits256;
  }
  throw std::runtime_error(record.where + ": key of " + std::to_string(record.Get("KEY").size()) +
                           " bytes");
}

Bytes ApplyBlock(engine::BlockFunction function, const Bytes& input) {
  if (input.size() != 16) throw std::runtime_error("not a 16-byte block");
  Bytes output(16);
  engine::StoreBlock(output.data(), function(engine::LoadBlock(input.data())));
  return output;
}

// Expands the record's key in the given form and runs one block through the current backend.
Bytes Encipher(const VectorRecord& record, const Bytes& input) {
  engine::LoadAesKey(record.Get("KEY").data(), KeySizeOf(record), false);
  return ApplyBlock(engine::CurrentAesBackend().encrypt, input);
}

Bytes Decipher(const VectorRecord& record, const Bytes& input, bool inverseSchedule) {
  engine::LoadAesKey(record.Get("KEY").data(), KeySizeOf(record), inverseSchedule);
  return ApplyBlock(engine::CurrentAesBackend().decrypt, input);
}

// Reports a wrong block with the record's place in its file; gives up after a handful so that
// a broken cipher does not print a thousand failures.
class MismatchLimit {
 public:
  bool Check(const Bytes& actual, const Bytes& expected, const VectorRecord& record,
             const char* what) {
    if (actual == expected) return true;
    ADD_FAILURE() << what << " at " << record.where << "\n  actual   " << BytesToHex(actual)
                  << "\n  expected " << BytesToHex(expected);
    return ++mismatches_ < 8;
  }

 private:
  int mismatches_ = 0;
};

std::string BackendName(bool hardware) {
  return hardware ? "Hardware" : "Software";
}

class AesBlockTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { USE_BACKEND_OR_SKIP(GetParam()); }
};

TEST_P(AesBlockTest, Fips197AppendixCExamples) {
  const VectorFile file = LoadVectorFile("fips197.txt", kFips197Schema);
  const auto& records = file.Section("ENCRYPT").records;
  ASSERT_EQ(records.size(), 3u);
  MismatchLimit limit;
  for (const VectorRecord& record : records) {
    const Bytes& plain = record.Get("PLAINTEXT");
    const Bytes& cipher = record.Get("CIPHERTEXT");
    limit.Check(Encipher(record, plain), cipher, record, "encryption");
    limit.Check(Decipher(record, cipher, true), plain, record, "decryption, inverse schedule");
    // The decryption routines need the equivalent-inverse schedule: the forward one is wrong.
    EXPECT_NE(BytesToHex(Decipher(record, cipher, false)), BytesToHex(plain))
        << "decryption under the forward schedule at " << record.where;
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, AesBlockTest, ::testing::Bool(),
                         [](const auto& test) { return BackendName(test.param); });

// AESAVS known answers, one file per key size (GFSbox, KeySbox, VarKey and VarTxt together).
struct KatFile {
  int bits;
  size_t recordsPerSection;
};
void PrintTo(const KatFile& file, std::ostream* os) {
  *os << "aes_kat_" << file.bits;
}
constexpr KatFile kKatFiles[] = {{128, 284}, {192, 350}, {256, 405}};

class AesKatTest : public ::testing::TestWithParam<std::tuple<bool, KatFile>> {
 protected:
  void SetUp() override { USE_BACKEND_OR_SKIP(std::get<0>(GetParam())); }
};

TEST_P(AesKatTest, EncryptAndDecryptSections) {
  const KatFile kat = std::get<1>(GetParam());
  const VectorFile file =
      LoadVectorFile("aes_kat_" + std::to_string(kat.bits) + ".txt", kKatSchema);
  ASSERT_EQ(file.sources.size(), 4u) << "one source line per AESAVS file";
  const auto& encrypt = file.Section("ENCRYPT").records;
  const auto& decrypt = file.Section("DECRYPT").records;
  ASSERT_EQ(encrypt.size(), kat.recordsPerSection);
  ASSERT_EQ(decrypt.size(), kat.recordsPerSection);

  MismatchLimit limit;
  for (const VectorRecord& record : encrypt) {
    ASSERT_EQ(record.Get("KEY").size() * 8, static_cast<size_t>(kat.bits)) << record.where;
    if (!limit.Check(Encipher(record, record.Get("PLAINTEXT")), record.Get("CIPHERTEXT"), record,
                     "encryption"))
      return;
  }
  for (const VectorRecord& record : decrypt) {
    ASSERT_EQ(record.Get("KEY").size() * 8, static_cast<size_t>(kat.bits)) << record.where;
    if (!limit.Check(Decipher(record, record.Get("CIPHERTEXT"), true), record.Get("PLAINTEXT"),
                     record, "decryption"))
      return;
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, AesKatTest,
                         ::testing::Combine(::testing::Bool(), ::testing::ValuesIn(kKatFiles)),
                         [](const auto& test) {
                           return BackendName(std::get<0>(test.param)) + "_" +
                                  std::to_string(std::get<1>(test.param).bits);
                         });

Bytes RoundKey(uint32_t offset) {
  const uint8_t* start = engine::gKeySchedule.roundKeys + offset;
  return Bytes(start, start + 16);
}

// The key source writes the raw key into the schedule and expansion fills the rest in place;
// the block routines bound their rounds by lastRoundOffset and the hardware pair reads the final
// round key from there, in both forms of the schedule.
TEST(AesKeySchedule, LastRoundKeyMatchesFips197AppendixA) {
  testing_support::BuildTablesOnce();
  const VectorFile file = LoadVectorFile("fips197.txt", kFips197Schema);
  const auto& records = file.Section("EXPANSION").records;
  ASSERT_EQ(records.size(), 3u);
  for (const VectorRecord& record : records) {
    const Bytes& key = record.Get("KEY");
    const engine::KeySize size = KeySizeOf(record);
    const uint32_t expectedOffset = 16 * engine::RoundCount(size);
    for (bool inverse : {false, true}) {
      SCOPED_TRACE(record.where + (inverse ? " inverse form" : " forward form"));
      std::copy(key.begin(), key.end(), engine::gKeySchedule.roundKeys);
      engine::ExpandAesKey(size, inverse);
      EXPECT_EQ(engine::gKeySchedule.keySize, static_cast<uint32_t>(size));
      ASSERT_EQ(engine::gKeySchedule.lastRoundOffset, expectedOffset);
      EXPECT_EQ(BytesToHex(RoundKey(expectedOffset)), BytesToHex(record.Get("LASTROUNDKEY")));
      // Round key 0 is the key's first 16 bytes in both forms.
      EXPECT_EQ(BytesToHex(RoundKey(0)), BytesToHex(Bytes(key.begin(), key.begin() + 16)));
    }
  }
  EXPECT_EQ(16 * engine::RoundCount(engine::KeySize::Bits128), 160u);
  EXPECT_EQ(16 * engine::RoundCount(engine::KeySize::Bits192), 192u);
  EXPECT_EQ(16 * engine::RoundCount(engine::KeySize::Bits256), 224u);
}

TEST(AesTables, SboxFixedPointsAndInverse) {
  testing_support::BuildTablesOnce();
  const engine::AesTables& tables = engine::gAesTables;
  // 0 has no multiplicative inverse and is mapped as its own.
  EXPECT_EQ(tables.Sbox[0], 0x63);
  EXPECT_EQ(tables.InvSbox[0x63], 0);
  for (int x = 0; x < 256; ++x)
    ASSERT_EQ(tables.InvSbox[tables.Sbox[x]], x) << "x = " << x;
}

// The FIPS-197 file is typed in by hand; OpenSSL confirms the transcription.
TEST(AesVectorData, Fips197ExamplesAgreeWithOpenSsl) {
  const VectorFile file = LoadVectorFile("fips197.txt", kFips197Schema);
  for (const VectorRecord& record : file.Section("ENCRYPT").records) {
    Bytes padded = testing_support::OracleEncrypt(engine::CipherMode::Ecb, record.Get("KEY"),
                                                  Bytes(16), record.Get("PLAINTEXT"));
    EXPECT_EQ(BytesToHex(Bytes(padded.begin(), padded.begin() + 16)),
              BytesToHex(record.Get("CIPHERTEXT")))
        << record.where;
  }
}

}  // namespace

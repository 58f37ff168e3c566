// The modes of a key/IV file job against published answers, run through the real job (files in a
// temporary folder, PrepareJobFiles, RunCipherJob) on both AES backends: the AESAVS multiblock
// messages for ECB, CBC, CFB-128 and OFB, the SP 800-38A and RFC 3686 CTR examples, and GCM
// (the CAVP encrypt and decrypt files, wrong-tag records included, and the published test cases).
//
// The job's file layouts differ from the vectors in two places. Padded modes add 1 to 16 bytes of
// value p on encryption (a whole block for block-multiple inputs) and, on decryption, drop v bytes
// when the last byte v is 1 to 16. A GCM file is the 16-byte tag followed by the ciphertext.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>

#include "engine/aes.h"
#include "engine/backend.h"
#include "engine/gcm.h"
#include "engine/job.h"
#include "engine/modes.h"
#include "tests/support/job_runner.h"
#include "tests/support/openssl_oracle.h"
#include "tests/support/test_files.h"
#include "tests/support/vector_file.h"

namespace {

using engine::CipherMode;
using engine::Direction;
using engine::JobStatus;
using testing_support::Bytes;
using testing_support::BytesToHex;
using testing_support::LoadVectorFile;
using testing_support::VectorFile;
using testing_support::VectorRecord;

const testing_support::VectorSchema kModeSchema{{"KEY", "IV", "PLAINTEXT", "CIPHERTEXT", "TAG"},
                                                {"FAIL"}};

Bytes Concat(const Bytes& a, const Bytes& b) {
  Bytes joined = a;
  joined.insert(joined.end(), b.begin(), b.end());
  return joined;
}

// The job's 16-byte IV. GCM uses only the first 12, so whatever stands in bytes 12 to 15 must
// not reach the job; ECB has no IV.
Bytes JobIv(const VectorRecord& record, CipherMode mode) {
  if (mode != CipherMode::Gcm) return record.Has("IV") ? record.Get("IV") : Bytes(16);
  const Bytes& iv = record.Get("IV");
  if (iv.size() != 12) throw std::runtime_error(record.where + ": GCM IV is not 96 bits");
  return Concat(iv, {0xde, 0xad, 0xbe, 0xef});
}

// The ciphertext as the job's file holds it: GCM puts the tag in front.
Bytes JobCipher(const VectorRecord& record, CipherMode mode) {
  if (mode != CipherMode::Gcm) return record.Get("CIPHERTEXT");
  return Concat(record.Get("TAG"), record.Get("CIPHERTEXT"));
}

// Plaintext as a padded-mode decryption writes it: the last byte v, when 1 to 16, says how many
// bytes to drop.
Bytes AfterPaddingTrim(Bytes plain) {
  const uint8_t v = plain.empty() ? 0 : plain.back();
  if (v >= 1 && v <= 16 && v <= plain.size()) plain.erase(plain.end() - v, plain.end());
  return plain;
}

// A vector file, its records (wrong-tag ones included) and its wrong-tag records.
struct VectorSet {
  const char* name;
  CipherMode mode;
  size_t records;
  size_t failRecords;
};

// AESAVS multiblock messages (1 to 10 blocks); CTR counting over the whole IV as a 128-bit
// big-endian number; GCM with a 96-bit IV, no additional data and plaintexts of 13 to 51 bytes.
constexpr VectorSet kVectorSets[] = {
    {"mmt_ecb_128", CipherMode::Ecb, 20, 0},    {"mmt_ecb_192", CipherMode::Ecb, 20, 0},
    {"mmt_ecb_256", CipherMode::Ecb, 20, 0},    {"mmt_cbc_128", CipherMode::Cbc, 20, 0},
    {"mmt_cbc_192", CipherMode::Cbc, 20, 0},    {"mmt_cbc_256", CipherMode::Cbc, 20, 0},
    {"mmt_cfb128_128", CipherMode::Cfb, 20, 0}, {"mmt_cfb128_192", CipherMode::Cfb, 20, 0},
    {"mmt_cfb128_256", CipherMode::Cfb, 20, 0}, {"mmt_ofb_128", CipherMode::Ofb, 20, 0},
    {"mmt_ofb_192", CipherMode::Ofb, 20, 0},    {"mmt_ofb_256", CipherMode::Ofb, 20, 0},
    {"ctr_sp800_38a", CipherMode::Ctr, 6, 0},   {"ctr_rfc3686", CipherMode::Ctr, 9, 0},
    {"gcm_128", CipherMode::Gcm, 120, 31},      {"gcm_192", CipherMode::Gcm, 120, 28},
    {"gcm_256", CipherMode::Gcm, 120, 27},      {"gcm_published", CipherMode::Gcm, 6, 0},
};

struct JobOutcome {
  bool prepared;
  JobStatus status;
  Bytes output;
};

class ModeVectorTest : public ::testing::TestWithParam<std::tuple<bool, VectorSet>> {
 protected:
  void SetUp() override { USE_BACKEND_OR_SKIP(std::get<0>(GetParam())); }

  JobOutcome Run(CipherMode mode, Direction direction, const Bytes& key, const Bytes& iv,
                 const Bytes& input) {
    if (key.size() != 16 && key.size() != 24 && key.size() != 32)
      throw std::runtime_error("AES key of " + std::to_string(key.size()) + " bytes");
    testing_support::FileJobSpec job;
    job.direction = direction;
    job.mode = mode;
    job.keySize = static_cast<engine::KeySize>(key.size() / 8 - 2);
    job.key = key;
    job.iv = iv;
    job.input = dir_.File("input");
    job.output = dir_.File("output");
    testing_support::WriteFileBytes(job.input, input);
    unlink(job.output.c_str());  // a failed job leaves an existing output as it was
    const testing_support::FileJobResult result = testing_support::RunFileJob(job);
    return {result.prepared, result.status,
            result.prepared ? testing_support::ReadFileBytes(job.output) : Bytes()};
  }

  // Compares hex so that a failure shows both values; false after a handful of failures.
  bool Check(const JobOutcome& outcome, JobStatus status, const Bytes& expected,
             const std::string& what) {
    if (outcome.prepared && outcome.status == status && outcome.output == expected) return true;
    ADD_FAILURE() << what << (outcome.prepared ? "" : ": files not prepared") << "\n  status "
                  << static_cast<int>(outcome.status) << ", expected " << static_cast<int>(status)
                  << "\n  actual   " << BytesToHex(outcome.output) << "\n  expected "
                  << BytesToHex(expected);
    return ++mismatches_ < 8;
  }

 private:
  testing_support::TempDir dir_;
  int mismatches_ = 0;
};

// Encrypt records run in both directions, decrypt records in theirs. A wrong-tag record reports
// the wrong tag, yet the whole plaintext-length output is written (its content is unauthenticated
// and the vector lacks it).
TEST_P(ModeVectorTest, FileJobMatchesVectors) {
  const VectorSet set = std::get<1>(GetParam());
  const bool padded = engine::IsPaddedMode(set.mode);
  const VectorFile file = LoadVectorFile(std::string(set.name) + ".txt", kModeSchema);
  ASSERT_EQ(file.RecordCount(), set.records);
  size_t failures = 0;
  for (const auto& section : file.sections) {
    for (const VectorRecord& record : section.records) {
      const Bytes& key = record.Get("KEY");
      const Bytes iv = JobIv(record, set.mode);
      const Bytes cipher = JobCipher(record, set.mode);
      JobOutcome decrypted = Run(set.mode, Direction::Decrypt, key, iv, cipher);
      if (record.HasFlag("FAIL")) {
        ++failures;
        EXPECT_EQ(decrypted.output.size(), cipher.size() - 16) << record.where;
        decrypted.output.clear();
        if (!Check(decrypted, JobStatus::WrongTag, {}, "wrong tag " + record.where)) return;
        continue;
      }
      const Bytes& plain = record.Get("PLAINTEXT");
      if (section.name == "ENCRYPT") {
        JobOutcome encrypted = Run(set.mode, Direction::Encrypt, key, iv, plain);
        if (padded) {
          // Block-multiple inputs take a whole padding block, which the vector does not have.
          EXPECT_EQ(encrypted.output.size(), plain.size() + 16) << record.where;
          encrypted.output.resize(std::min(encrypted.output.size(), plain.size()));
        }
        if (!Check(encrypted, JobStatus::EncryptionComplete, cipher, "encrypt " + record.where))
          return;
      }
      if (!Check(decrypted, JobStatus::DecryptionComplete, padded ? AfterPaddingTrim(plain) : plain,
                 "decrypt " + record.where))
        return;
    }
  }
  EXPECT_EQ(failures, set.failRecords);
}

INSTANTIATE_TEST_SUITE_P(Backends, ModeVectorTest,
                         ::testing::Combine(::testing::Bool(), ::testing::ValuesIn(kVectorSets)),
                         [](const auto& test) {
                           return std::string(std::get<0>(test.param) ? "Hardware_" : "Software_") +
                                  std::get<1>(test.param).name;
                         });

// The counters at their carry points: no vector file reaches them (CTR needs an IV whose low
// bytes are all FF, GCM's inc32 a file over 256 MiB before its carry leaves byte 14).
TEST(CounterSteps, CarriesRunAsFarAsEachModeSays) {
  struct Row {
    bool gcm;
    const char* before;
    const char* after;
  };
  const Row kRows[] = {
      {false, "000102030405060708090a0b0c0d0eff", "000102030405060708090a0b0c0d0f00"},
      {false, "0001020304050607ffffffffffffffff", "00010203040506080000000000000000"},
      {false, "00ffffffffffffffffffffffffffffff", "01000000000000000000000000000000"},
      {false, "ffffffffffffffffffffffffffffffff", "00000000000000000000000000000000"},
      {true, "0001020304050607080909ff00ffffff", "0001020304050607080909ff01000000"},
      {true, "000102030405060708090aff0affffff", "000102030405060708090aff0b000000"},
      {true, "000102030405060708090affffffffff", "000102030405060708090aff00000000"},
  };
  for (const Row& row : kRows) {
    const engine::Block before = engine::LoadBlock(testing_support::HexToBytes(row.before).data());
    const engine::Block after =
        row.gcm ? engine::Increment32(before) : engine::IncrementCounter128(before);
    Bytes stepped(16);
    engine::StoreBlock(stepped.data(), after);
    EXPECT_EQ(BytesToHex(stepped), row.after) << row.before;
  }
}

// The SP 800-38A CTR examples and the GCM test cases are typed in by hand; OpenSSL confirms the
// transcription, so that a typo cannot pass for an engine fault.
TEST(ModeVectorData, HandTypedFilesAgreeWithOpenSsl) {
  for (const auto& [name, mode] : {std::pair{"ctr_sp800_38a.txt", CipherMode::Ctr},
                                   std::pair{"gcm_published.txt", CipherMode::Gcm}}) {
    const VectorFile file = LoadVectorFile(name, kModeSchema);
    for (const auto& section : file.sections) {
      for (const VectorRecord& record : section.records) {
        EXPECT_EQ(BytesToHex(testing_support::OracleEncrypt(
                      mode, record.Get("KEY"), JobIv(record, mode), record.Get("PLAINTEXT"))),
                  BytesToHex(JobCipher(record, mode)))
            << record.where;
      }
    }
  }
}

// The loader is what stands between a damaged vector file and a test that passes on nothing.
TEST(VectorFile, ReadsSectionsRecordsAndFlags) {
  const VectorFile file = testing_support::ParseVectorText(
      "# source: somewhere\r\n# a remark\n\n[ENCRYPT]\nKEY = 00Ff\nIV = 0102\n\n"
      "KEY = ab\nFAIL\n[DECRYPT]\n\nKEY = cd\n",
      "sample", kModeSchema);
  ASSERT_EQ(file.sources, std::vector<std::string>{"somewhere"});
  ASSERT_EQ(file.sections.size(), 2u);
  const auto& encrypt = file.Section("ENCRYPT").records;
  ASSERT_EQ(encrypt.size(), 2u);
  ASSERT_EQ(encrypt[0].fields.size(), 2u);
  EXPECT_EQ(encrypt[0].fields[0].first, "KEY");
  EXPECT_EQ(encrypt[0].Get("KEY"), (Bytes{0x00, 0xff}));
  EXPECT_EQ(encrypt[0].fields[1].first, "IV");
  EXPECT_FALSE(encrypt[0].HasFlag("FAIL"));
  EXPECT_TRUE(encrypt[1].HasFlag("FAIL"));
  EXPECT_EQ(encrypt[1].where, "sample:8");
  EXPECT_EQ(file.Section("DECRYPT").records.at(0).Get("KEY"), Bytes{0xcd});
  EXPECT_THROW(encrypt[1].Get("IV"), std::runtime_error);
  EXPECT_THROW(file.Section("OTHER"), std::runtime_error);
}

TEST(VectorFile, RejectsWhatItDoesNotKnow) {
  struct Case {
    const char* what;
    const char* text;
  };
  const Case kCases[] = {
      {"odd hex", "[S]\nKEY = abc\n"},
      {"non-hex digit", "[S]\nKEY = 0g\n"},
      {"empty value", "[S]\nKEY =\n"},
      {"name not allowed", "[S]\nNONCE = 00\n"},
      {"missing name", "[S]\n= 00\n"},
      {"flag not allowed", "[S]\nKEY = 00\nPASS\n"},
      {"unreadable line", "[S]\nKEY 00\n"},
      {"name twice in a record", "[S]\nKEY = 00\nKEY = 01\n"},
      {"flag-only record", "[S]\nFAIL\n"},
      {"record before a section", "KEY = 00\n"},
      {"unclosed header", "[S\nKEY = 00\n"},
      {"empty section", "[S]\n\n[T]\nKEY = 00\n"},
      {"section twice", "[S]\nKEY = 00\n[S]\nKEY = 01\n"},
      {"no sections", "# source: nothing\n"},
  };
  for (const Case& c : kCases)
    EXPECT_THROW(testing_support::ParseVectorText(c.text, "bad", kModeSchema), std::runtime_error)
        << c.what;
  try {
    testing_support::ParseVectorText("[S]\nKEY = 00\n\nKEY = 0\n", "bad", kModeSchema);
    ADD_FAILURE() << "odd hex accepted";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find("bad:4"), std::string::npos) << error.what();
  }
  EXPECT_THROW(LoadVectorFile("no_such_file.txt", kModeSchema), std::runtime_error);
}

}  // namespace

// The modes of a key/IV file job against published answers, run through the real job (files in a
// temporary folder, PrepareJobFiles, RunCipherJob) on both AES backends: the AESAVS multiblock
// messages for ECB, CBC, CFB-128 and OFB, the SP 800-38A and RFC 3686 CTR examples, and GCM
// (the CAVP encrypt and decrypt files, wrong-tag records included, and the published test cases).
//
// The job's file layouts differ from the vectors in two places. Padded modes add 1 to 16 bytes of
// value p on encryption (a whole block for block-multiple inputs) and, on decryption, drop v bytes
// when the last byte v is 1 to 16. A GCM file is the 16-byte tag followed by the ciphertext.
#include <gtest/gtest.h>

#include <ostream>
#include <stdexcept>
#include <string>
#include <tuple>

#include "engine/aes.h"
#include "engine/backend.h"
#include "engine/job.h"
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
using testing_support::VectorSchema;

const VectorSchema kModeSchema{{"KEY", "IV", "PLAINTEXT", "CIPHERTEXT", "TAG"}, {"FAIL"}};

// Whatever stands in IV bytes 12 to 15 must not reach a GCM job.
const Bytes kGcmIvFiller{0xde, 0xad, 0xbe, 0xef};

engine::KeySize KeySizeOf(const Bytes& key) {
  switch (key.size()) {
    case 16:
      return engine::KeySize::Bits128;
    case 24:
      return engine::KeySize::Bits192;
    case 32:
      return engine::KeySize::Bits256;
  }
  throw std::runtime_error("AES key of " + std::to_string(key.size()) + " bytes");
}

Bytes Concat(const Bytes& a, const Bytes& b) {
  Bytes joined = a;
  joined.insert(joined.end(), b.begin(), b.end());
  return joined;
}

Bytes GcmJobIv(const VectorRecord& record) {
  const Bytes& iv = record.Get("IV");
  if (iv.size() != 12) throw std::runtime_error(record.where + ": GCM IV is not 96 bits");
  return Concat(iv, kGcmIvFiller);
}

// Plaintext as a padded-mode decryption writes it: the last byte v, when 1 to 16, says how many
// bytes to drop.
Bytes AfterPaddingTrim(Bytes plain) {
  const uint8_t v = plain.empty() ? 0 : plain.back();
  if (v >= 1 && v <= 16 && v <= plain.size()) plain.erase(plain.end() - v, plain.end());
  return plain;
}

int Code(JobStatus status) {
  return static_cast<int>(status);
}

struct JobOutcome {
  bool prepared;
  JobStatus status;
  Bytes output;
};

// Runs key/IV jobs over one input and one output file in a temporary folder.
class JobBench {
 public:
  JobOutcome Run(CipherMode mode, Direction direction, const Bytes& key, const Bytes& iv,
                 const Bytes& input) {
    testing_support::FileJobSpec job;
    job.direction = direction;
    job.mode = mode;
    job.keySize = KeySizeOf(key);
    job.key = key;
    job.iv = iv;
    job.input = dir_.File("input");
    job.output = dir_.File("output");
    testing_support::WriteFileBytes(job.input, input);
    const testing_support::FileJobResult result = testing_support::RunFileJob(job);
    JobOutcome outcome{result.prepared, result.status, {}};
    if (result.prepared) outcome.output = testing_support::ReadFileBytes(job.output);
    return outcome;
  }

 private:
  testing_support::TempDir dir_;
};

// Compares hex so that a failure shows both values; stops a test after a handful of failures.
class MismatchLimit {
 public:
  bool Check(const JobOutcome& outcome, JobStatus status, const Bytes& expected,
             const std::string& what) {
    if (outcome.prepared && outcome.status == status && outcome.output == expected) return true;
    ADD_FAILURE() << what << (outcome.prepared ? "" : ": files not prepared") << "\n  status "
                  << Code(outcome.status) << ", expected " << Code(status) << "\n  actual   "
                  << BytesToHex(outcome.output) << "\n  expected " << BytesToHex(expected);
    return ++mismatches_ < 8;
  }

 private:
  int mismatches_ = 0;
};

std::string BackendName(bool hardware) {
  return hardware ? "Hardware" : "Software";
}

// AESAVS multiblock message tests (10 records per section, 1 to 10 blocks each).
struct MmtFile {
  const char* name;
  CipherMode mode;
};
void PrintTo(const MmtFile& file, std::ostream* os) {
  *os << file.name;
}
constexpr MmtFile kMmtFiles[] = {
    {"mmt_ecb_128", CipherMode::Ecb},    {"mmt_ecb_192", CipherMode::Ecb},
    {"mmt_ecb_256", CipherMode::Ecb},    {"mmt_cbc_128", CipherMode::Cbc},
    {"mmt_cbc_192", CipherMode::Cbc},    {"mmt_cbc_256", CipherMode::Cbc},
    {"mmt_cfb128_128", CipherMode::Cfb}, {"mmt_cfb128_192", CipherMode::Cfb},
    {"mmt_cfb128_256", CipherMode::Cfb}, {"mmt_ofb_128", CipherMode::Ofb},
    {"mmt_ofb_192", CipherMode::Ofb},    {"mmt_ofb_256", CipherMode::Ofb},
};

class MmtTest : public ::testing::TestWithParam<std::tuple<bool, MmtFile>> {
 protected:
  void SetUp() override { USE_BACKEND_OR_SKIP(std::get<0>(GetParam())); }
};

TEST_P(MmtTest, FileJobMatchesVectors) {
  const MmtFile mmt = std::get<1>(GetParam());
  const bool padded = engine::IsPaddedMode(mmt.mode);
  const VectorFile file = LoadVectorFile(std::string(mmt.name) + ".txt", kModeSchema);
  const auto& encrypt = file.Section("ENCRYPT").records;
  const auto& decrypt = file.Section("DECRYPT").records;
  ASSERT_EQ(encrypt.size(), 10u);
  ASSERT_EQ(decrypt.size(), 10u);
  JobBench bench;
  MismatchLimit limit;

  for (const VectorRecord& record : encrypt) {
    const Bytes& plain = record.Get("PLAINTEXT");
    const Bytes& cipher = record.Get("CIPHERTEXT");
    const Bytes iv = record.Has("IV") ? record.Get("IV") : Bytes(16);  // ECB has none
    JobOutcome outcome = bench.Run(mmt.mode, Direction::Encrypt, record.Get("KEY"), iv, plain);
    if (padded) {
      // Block-multiple inputs take a whole padding block, which the vector does not have.
      EXPECT_EQ(outcome.output.size(), plain.size() + 16) << record.where;
      if (outcome.output.size() > plain.size()) outcome.output.resize(plain.size());
    }
    if (!limit.Check(outcome, JobStatus::EncryptionComplete, cipher, "encrypt " + record.where))
      return;
  }
  for (const VectorRecord& record : decrypt) {
    const Bytes& plain = record.Get("PLAINTEXT");
    const Bytes iv = record.Has("IV") ? record.Get("IV") : Bytes(16);  // ECB has none
    JobOutcome outcome =
        bench.Run(mmt.mode, Direction::Decrypt, record.Get("KEY"), iv, record.Get("CIPHERTEXT"));
    if (!limit.Check(outcome, JobStatus::DecryptionComplete,
                     padded ? AfterPaddingTrim(plain) : plain, "decrypt " + record.where))
      return;
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, MmtTest,
                         ::testing::Combine(::testing::Bool(), ::testing::ValuesIn(kMmtFiles)),
                         [](const auto& test) {
                           return BackendName(std::get<0>(test.param)) + "_" +
                                  std::get<1>(test.param).name;
                         });

// CTR: the counter is the whole IV, stepped as a 128-bit big-endian number. Both directions run
// the same keystream; the direction only picks the outcome.
struct CtrFile {
  const char* name;
  size_t records;
};
void PrintTo(const CtrFile& file, std::ostream* os) {
  *os << file.name;
}
constexpr CtrFile kCtrFiles[] = {{"ctr_sp800_38a", 6}, {"ctr_rfc3686", 9}};

class CtrTest : public ::testing::TestWithParam<std::tuple<bool, CtrFile>> {
 protected:
  void SetUp() override { USE_BACKEND_OR_SKIP(std::get<0>(GetParam())); }
};

TEST_P(CtrTest, FileJobMatchesVectorsInBothDirections) {
  const CtrFile ctr = std::get<1>(GetParam());
  const VectorFile file = LoadVectorFile(std::string(ctr.name) + ".txt", kModeSchema);
  ASSERT_EQ(file.RecordCount(), ctr.records);
  JobBench bench;
  MismatchLimit limit;
  for (const auto& section : file.sections) {
    for (const VectorRecord& record : section.records) {
      const Bytes& key = record.Get("KEY");
      const Bytes& iv = record.Get("IV");
      const Bytes& plain = record.Get("PLAINTEXT");
      const Bytes& cipher = record.Get("CIPHERTEXT");
      if (!limit.Check(bench.Run(CipherMode::Ctr, Direction::Encrypt, key, iv, plain),
                       JobStatus::EncryptionComplete, cipher, "encrypt " + record.where) ||
          !limit.Check(bench.Run(CipherMode::Ctr, Direction::Decrypt, key, iv, cipher),
                       JobStatus::DecryptionComplete, plain, "decrypt " + record.where))
        return;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, CtrTest,
                         ::testing::Combine(::testing::Bool(), ::testing::ValuesIn(kCtrFiles)),
                         [](const auto& test) {
                           return BackendName(std::get<0>(test.param)) + "_" +
                                  std::get<1>(test.param).name;
                         });

// GCM: 96-bit IV, no additional data, 128-bit tag, plaintexts of 13, 16, 32 and 51 bytes.
struct GcmFile {
  const char* name;
  size_t encryptRecords;
  size_t decryptRecords;  // 0: the file has no DECRYPT section
  size_t failRecords;
};
void PrintTo(const GcmFile& file, std::ostream* os) {
  *os << file.name;
}
constexpr GcmFile kGcmFiles[] = {
    {"gcm_128", 60, 60, 31},
    {"gcm_192", 60, 60, 28},
    {"gcm_256", 60, 60, 27},
    {"gcm_published", 6, 0, 0},
};

class GcmTest : public ::testing::TestWithParam<std::tuple<bool, GcmFile>> {
 protected:
  void SetUp() override { USE_BACKEND_OR_SKIP(std::get<0>(GetParam())); }
};

TEST_P(GcmTest, FileJobMatchesVectors) {
  const GcmFile gcm = std::get<1>(GetParam());
  const VectorFile file = LoadVectorFile(std::string(gcm.name) + ".txt", kModeSchema);
  const auto& encrypt = file.Section("ENCRYPT").records;
  ASSERT_EQ(encrypt.size(), gcm.encryptRecords);
  ASSERT_EQ(file.RecordCount(), gcm.encryptRecords + gcm.decryptRecords);
  JobBench bench;
  MismatchLimit limit;

  // Encrypt records: the file is tag then ciphertext, and it decrypts back with a good tag.
  for (const VectorRecord& record : encrypt) {
    const Bytes& key = record.Get("KEY");
    const Bytes iv = GcmJobIv(record);
    const Bytes sealed = Concat(record.Get("TAG"), record.Get("CIPHERTEXT"));
    if (!limit.Check(
            bench.Run(CipherMode::Gcm, Direction::Encrypt, key, iv, record.Get("PLAINTEXT")),
            JobStatus::EncryptionComplete, sealed, "encrypt " + record.where) ||
        !limit.Check(bench.Run(CipherMode::Gcm, Direction::Decrypt, key, iv, sealed),
                     JobStatus::DecryptionComplete, record.Get("PLAINTEXT"),
                     "decrypt " + record.where))
      return;
  }
  if (gcm.decryptRecords == 0) return;

  // Decrypt records: a FAIL record reports the wrong tag, yet the whole plaintext-length output
  // is written (its content is unauthenticated and the vector does not give it).
  size_t failures = 0;
  for (const VectorRecord& record : file.Section("DECRYPT").records) {
    const Bytes& cipher = record.Get("CIPHERTEXT");
    JobOutcome outcome = bench.Run(CipherMode::Gcm, Direction::Decrypt, record.Get("KEY"),
                                   GcmJobIv(record), Concat(record.Get("TAG"), cipher));
    if (record.HasFlag("FAIL")) {
      ++failures;
      ASSERT_FALSE(record.Has("PLAINTEXT")) << record.where;
      EXPECT_EQ(outcome.output.size(), cipher.size()) << record.where;
      outcome.output.clear();
      if (!limit.Check(outcome, JobStatus::WrongTag, {}, "wrong tag " + record.where)) return;
    } else if (!limit.Check(outcome, JobStatus::DecryptionComplete, record.Get("PLAINTEXT"),
                            "decrypt " + record.where)) {
      return;
    }
  }
  EXPECT_EQ(failures, gcm.failRecords);
}

INSTANTIATE_TEST_SUITE_P(Backends, GcmTest,
                         ::testing::Combine(::testing::Bool(), ::testing::ValuesIn(kGcmFiles)),
                         [](const auto& test) {
                           return BackendName(std::get<0>(test.param)) + "_" +
                                  std::get<1>(test.param).name;
                         });

// The SP 800-38A CTR examples and the GCM test cases are typed in by hand; OpenSSL confirms the
// transcription, so that a typo cannot pass for an engine fault.
TEST(ModeVectorData, HandTypedFilesAgreeWithOpenSsl) {
  const VectorFile ctr = LoadVectorFile("ctr_sp800_38a.txt", kModeSchema);
  for (const auto& section : ctr.sections)
    for (const VectorRecord& record : section.records)
      EXPECT_EQ(BytesToHex(testing_support::OracleEncrypt(
                    CipherMode::Ctr, record.Get("KEY"), record.Get("IV"), record.Get("PLAINTEXT"))),
                BytesToHex(record.Get("CIPHERTEXT")))
          << record.where;
  const VectorFile gcm = LoadVectorFile("gcm_published.txt", kModeSchema);
  for (const VectorRecord& record : gcm.Section("ENCRYPT").records)
    EXPECT_EQ(BytesToHex(testing_support::OracleEncrypt(CipherMode::Gcm, record.Get("KEY"),
                                                        GcmJobIv(record), record.Get("PLAINTEXT"))),
              BytesToHex(Concat(record.Get("TAG"), record.Get("CIPHERTEXT"))))
        << record.where;
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

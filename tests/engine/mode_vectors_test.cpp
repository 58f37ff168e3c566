// The modes of a key/IV file job against published answers, through the real job on both AES
// backends (GCM also on the hardware pair with the tables' GHASH): the AESAVS multiblock messages
// (ECB, CBC, CFB-128, OFB), the SP 800-38A and RFC 3686 CTR examples, and GCM (the CAVP files,
// wrong-tag records included, and the published cases).
#include <gtest/gtest.h>
#include <unistd.h>

#include <span>
#include <string>
#include <tuple>

#include "engine/gcm.h"
#include "engine/job.h"
#include "engine/modes.h"
#include "tests/support/job_runner.h"
#include "tests/support/vector_file.h"

namespace {

using engine::CipherMode;
using engine::Direction;
using engine::JobStatus;
using testing_support::Backend;
using testing_support::Bytes;
using testing_support::BytesToHex;

// A vector file, its records (wrong-tag ones included) and its wrong-tag records.
struct VectorSet {
  const char* name;
  CipherMode mode;
  size_t records;
  size_t failRecords;
};

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

class ModeVectorTest : public ::testing::TestWithParam<std::tuple<Backend, VectorSet>> {
 protected:
  void SetUp() override { USE_BACKEND_OR_SKIP(std::get<0>(GetParam())); }

  // The job's status and output, "-" when the files were refused.
  std::pair<JobStatus, std::string> Run(Direction direction, const Bytes& input) {
    spec_.direction = direction;
    testing_support::WriteFileBytes(spec_.input = dir_.File("input"), input);
    unlink((spec_.output = dir_.File("output")).c_str());
    const testing_support::FileJobResult result = testing_support::RunFileJob(spec_);
    const Bytes output = result.prepared ? testing_support::ReadFileBytes(spec_.output) : Bytes();
    return {result.status, result.prepared ? BytesToHex(output) : "-"};
  }

  testing_support::FileJobSpec spec_;
  testing_support::TempDir dir_;
};

// Encrypt records run in both directions, decrypt records in theirs; a GCM file is the tag, then
// the ciphertext. A wrong-tag record reports the wrong tag, yet the whole plaintext-length output
// is written (unauthenticated, so the vector lacks it).
TEST_P(ModeVectorTest, FileJobMatchesVectors) {
  const VectorSet set = std::get<1>(GetParam());
  const bool gcm = set.mode == CipherMode::Gcm, padded = engine::IsPaddedMode(set.mode);
  const auto records = testing_support::LoadVectors(
      std::string(set.name) + ".txt", {"KEY", "IV", "PLAINTEXT", "CIPHERTEXT", "TAG"}, {"FAIL"});
  ASSERT_EQ(records.size(), set.records);
  size_t failRecords = 0;
  int recordsAfterFailure = 0;
  for (const auto& record : records) {
    SCOPED_TRACE(record.where);
    spec_.mode = set.mode;
    spec_.key = record.Get("KEY");
    spec_.keySize = static_cast<engine::KeySize>(spec_.key.size() / 8 - 2);
    // GCM uses only the first 12 IV bytes, so whatever stands in bytes 12 to 15 must not matter.
    spec_.iv = record.Has("IV") ? record.Get("IV") : Bytes(16);
    if (gcm) spec_.iv.insert(spec_.iv.end(), {0xde, 0xad, 0xbe, 0xef});
    Bytes cipher = gcm ? record.Get("TAG") : Bytes();
    cipher.insert(cipher.end(), record.Get("CIPHERTEXT").begin(), record.Get("CIPHERTEXT").end());
    const auto decrypted = Run(Direction::Decrypt, cipher);
    if (record.HasFlag("FAIL")) {
      ++failRecords;
      EXPECT_EQ(decrypted.first, JobStatus::WrongTag);
      EXPECT_EQ(decrypted.second.size(), 2 * (cipher.size() - 16));
      continue;
    }
    Bytes plain = record.Get("PLAINTEXT");
    if (record.section == "ENCRYPT") {
      // Block-multiple inputs take a whole padding block, which the vector does not have.
      const auto encrypted = Run(Direction::Encrypt, plain);
      EXPECT_EQ(encrypted.first, JobStatus::EncryptionComplete);
      EXPECT_EQ(encrypted.second.substr(0, 2 * cipher.size()), BytesToHex(cipher));
      EXPECT_EQ(encrypted.second.size(), 2 * (cipher.size() + (padded ? 16 : 0)));
    }
    // A padded decryption drops v bytes when the last byte v is 1 to 16.
    if (padded && plain.back() >= 1 && plain.back() <= 16)
      plain.resize(plain.size() - plain.back());
    EXPECT_EQ(decrypted, std::make_pair(JobStatus::DecryptionComplete, BytesToHex(plain)));
    if (gcm) {  // every byte of the tag counts, down to the last; the job leaves no H behind
      EXPECT_TRUE(engine::GcmStateIsWiped());
      cipher[15] ^= 1;
      EXPECT_EQ(Run(Direction::Decrypt, cipher).first, JobStatus::WrongTag);
    }
    if (HasFailure() && ++recordsAfterFailure == 8) return;  // enough to tell what is wrong
  }
  EXPECT_EQ(failRecords, set.failRecords);
}

std::string SetName(const ::testing::TestParamInfo<std::tuple<Backend, VectorSet>>& info) {
  return std::string(BackendName(std::get<0>(info.param))) + "_" + std::get<1>(info.param).name;
}

INSTANTIATE_TEST_SUITE_P(Backends, ModeVectorTest,
                         ::testing::Combine(::testing::Values(Backend::Software, Backend::Hardware),
                                            ::testing::ValuesIn(kVectorSets)),
                         SetName);
// The GCM sets, last in the table, on the hardware pair with the tables' GHASH.
INSTANTIATE_TEST_SUITE_P(TableGhash, ModeVectorTest,
                         ::testing::Combine(::testing::Values(Backend::HardwareTables),
                                            ::testing::ValuesIn(std::span(kVectorSets).last(4))),
                         SetName);

// The counters at their carry points, which no vector file reaches (CTR needs an IV whose low
// bytes are all FF, GCM's inc32 a file over 256 MiB before its carry leaves byte 14).
TEST(CounterSteps, CarriesRunAsFarAsEachModeSays) {
  const struct {
    bool gcm;
    const char* before;
    const char* after;
  } kRows[] = {
      {false, "0001020304050607ffffffffffffffff", "00010203040506080000000000000000"},
      {false, "00ffffffffffffffffffffffffffffff", "01000000000000000000000000000000"},
      {false, "ffffffffffffffffffffffffffffffff", "00000000000000000000000000000000"},
      {true, "0001020304050607080909ff00ffffff", "0001020304050607080909ff01000000"},
      {true, "000102030405060708090affffffffff", "000102030405060708090aff00000000"},
  };
  for (const auto& row : kRows) {
    const engine::Block before = engine::LoadBlock(testing_support::HexToBytes(row.before).data());
    Bytes stepped(16);
    engine::StoreBlock(stepped.data(),
                       row.gcm ? engine::Increment32(before) : engine::IncrementCounter128(before));
    EXPECT_EQ(BytesToHex(stepped), row.after) << row.before;
  }
}

}  // namespace

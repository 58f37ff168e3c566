// Key/IV file jobs against OpenSSL on random data: every mode, key size and backend (GCM also on
// the hardware pair with the tables' GHASH), at sizes around the block and the 256 KiB chunk.
// Encryption must write exactly what OpenSSL writes, and decrypting OpenSSL's ciphertext through
// the job must give the input back.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "engine/job.h"
#include "tests/support/job_runner.h"
#include "tests/support/openssl_oracle.h"

namespace {

using engine::CipherMode;
using engine::Direction;
using engine::JobStatus;
using engine::KeySize;
using testing_support::Backend;
using testing_support::Bytes;

using Case = std::tuple<CipherMode, KeySize, size_t, Backend>;

// One full chunk less, equal and more, and a job of several chunks ending in a partial block:
// between them, GHASH groups of 8 with 1, 2 and 7 blocks left over.
constexpr size_t kChunk = engine::kChunkSize;
constexpr size_t kSizes[] = {1, 15, 16, 17, kChunk - 1, kChunk, kChunk + 1, 3 * kChunk + 101};

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  const auto& [mode, keySize, size, backend] = info.param;
  return std::string(engine::Traits(mode).name) + "_" +
         std::to_string(engine::KeyBytes(keySize) * 8) + "_" + std::to_string(size) + "_" +
         testing_support::BackendName(backend);
}

class DifferentialTest : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    const auto [mode, keySize, size, backend] = GetParam();
    USE_BACKEND_OR_SKIP(backend);
    // The same key, IV and data for both backends, so that a difference between them shows as
    // one backend failing the same case.
    const uint64_t seed = (static_cast<uint64_t>(mode) << 48) ^ (uint64_t(keySize) << 40) ^ size;
    spec_.mode = mode;
    spec_.keySize = keySize;
    spec_.key = testing_support::RandomBytes(engine::KeyBytes(keySize), 3 * seed + 1);
    spec_.iv = testing_support::RandomBytes(16, 3 * seed + 2);
    plain_ = testing_support::RandomBytes(size, 3 * seed + 3);
    if (mode == CipherMode::Ctr) {
      // Low bytes FF FF FF Fx: within the first 16 blocks the counter carries out of its low
      // 32 bits into byte 11, which a counter stepped in only part of the block would miss.
      spec_.iv[12] = spec_.iv[13] = spec_.iv[14] = 0xFF;
      spec_.iv[15] |= 0xF0;
    }
    expected_ = testing_support::OracleEncrypt(mode, spec_.key, spec_.iv, plain_);
  }

  // Writes `input`, runs the job over it and returns the output file's bytes.
  Bytes RunJob(Direction direction, const Bytes& input, JobStatus expectedStatus) {
    testing_support::WriteFileBytes(spec_.input = dir_.File("in"), input);
    spec_.output = dir_.File("out");
    spec_.direction = direction;
    const testing_support::FileJobResult result = testing_support::RunFileJob(spec_);
    EXPECT_TRUE(result.prepared);
    EXPECT_EQ(result.status, expectedStatus);
    EXPECT_EQ(result.stopFlag, engine::kRunning);
    return testing_support::ReadFileBytes(spec_.output);
  }

  testing_support::FileJobSpec spec_;
  Bytes plain_, expected_;
  testing_support::TempDir dir_;
};

// Compared whole, not printed: a failure names only the sizes. A GCM decryption that finishes
// with DecryptionComplete has found the tag correct.
TEST_P(DifferentialTest, EncryptionMatchesOpenSslAndDecryptionRestoresTheInput) {
  const Bytes encrypted = RunJob(Direction::Encrypt, plain_, JobStatus::EncryptionComplete);
  EXPECT_TRUE(encrypted == expected_)
      << encrypted.size() << " bytes, expected " << expected_.size();
  EXPECT_TRUE(RunJob(Direction::Decrypt, expected_, JobStatus::DecryptionComplete) == plain_);
}

const auto kKeySizes = ::testing::Values(KeySize::Bits128, KeySize::Bits192, KeySize::Bits256);

INSTANTIATE_TEST_SUITE_P(
    AllModes, DifferentialTest,
    ::testing::Combine(::testing::Values(CipherMode::Ctr, CipherMode::Gcm, CipherMode::Ofb,
                                         CipherMode::Cfb, CipherMode::Cbc, CipherMode::Ecb,
                                         CipherMode::Pcbc),
                       kKeySizes, ::testing::ValuesIn(kSizes),
                       ::testing::Values(Backend::Software, Backend::Hardware)),
    CaseName);
INSTANTIATE_TEST_SUITE_P(TableGhash, DifferentialTest,
                         ::testing::Combine(::testing::Values(CipherMode::Gcm), kKeySizes,
                                            ::testing::ValuesIn(kSizes),
                                            ::testing::Values(Backend::HardwareTables)),
                         CaseName);

}  // namespace

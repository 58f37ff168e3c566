// Key/IV file jobs against OpenSSL on random data: every mode, key size and backend, at sizes
// around the block and the 256 KiB chunk. Encryption must write exactly what OpenSSL writes, and
// decrypting OpenSSL's ciphertext through the job must give the input back.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>

#include "engine/aes.h"
#include "engine/backend.h"
#include "engine/job.h"
#include "tests/support/job_runner.h"
#include "tests/support/openssl_oracle.h"
#include "tests/support/test_files.h"

namespace {

using engine::CipherMode;
using engine::Direction;
using engine::JobStatus;
using engine::KeySize;
using testing_support::Bytes;

enum class Backend { Software, Hardware };

using Case = std::tuple<CipherMode, KeySize, size_t, Backend>;

constexpr size_t kTagBytes = 16;

// One full chunk less, equal and more, and a job of several chunks ending in a partial block.
constexpr size_t kSizes[] = {1,
                             15,
                             16,
                             17,
                             engine::kChunkSize - 1,
                             engine::kChunkSize,
                             engine::kChunkSize + 1,
                             3 * engine::kChunkSize + 5};

const char* ModeName(CipherMode mode) {
  static const char* const kNames[] = {"Ctr", "Gcm", "Ofb", "Cfb", "Cbc", "Ecb", "Pcbc"};
  return kNames[static_cast<size_t>(mode)];
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  const auto& [mode, keySize, size, backend] = info.param;
  return std::string(ModeName(mode)) + "_" + std::to_string(engine::KeyBytes(keySize) * 8) + "_" +
         std::to_string(size) + (backend == Backend::Hardware ? "_Hardware" : "_Software");
}

// Equality of two byte strings, reporting sizes and the first differing block instead of
// printing megabytes.
::testing::AssertionResult SameBytes(const Bytes& actual, const Bytes& expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  auto failure = ::testing::AssertionFailure();
  failure << actual.size() << " bytes, expected " << expected.size();
  const size_t common = std::min(actual.size(), expected.size());
  const size_t at = static_cast<size_t>(
      std::mismatch(actual.begin(), actual.begin() + static_cast<ptrdiff_t>(common),
                    expected.begin())
          .first -
      actual.begin());
  if (at == common) return failure << "; the first " << common << " bytes agree";
  const size_t start = at / 16 * 16;
  auto blockAt = [start](const Bytes& bytes) {
    const size_t end = std::min(bytes.size(), start + 16);
    return testing_support::BytesToHex(Bytes(bytes.begin() + static_cast<ptrdiff_t>(start),
                                             bytes.begin() + static_cast<ptrdiff_t>(end)));
  };
  return failure << "; first difference at byte " << at << " (block " << start / 16
                 << "): " << blockAt(actual) << " vs " << blockAt(expected);
}

class DifferentialTest : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    USE_BACKEND_OR_SKIP(backend() == Backend::Hardware);
    ASSERT_EQ(engine::HardwareBackendActive(), backend() == Backend::Hardware);

    // The same key, IV and data for both backends, so a difference between them shows as one
    // backend failing the same case.
    const uint64_t seed =
        (static_cast<uint64_t>(mode()) << 48) ^ (static_cast<uint64_t>(keySize()) << 40) ^ size();
    key_ = testing_support::RandomBytes(engine::KeyBytes(keySize()), 3 * seed + 1);
    iv_ = testing_support::RandomBytes(16, 3 * seed + 2);
    plain_ = testing_support::RandomBytes(size(), 3 * seed + 3);
    if (mode() == CipherMode::Ctr) {
      // Low bytes FF FF FF Fx: within the first 16 blocks the counter carries out of its low
      // 32 bits into byte 11, which a counter stepped in only part of the block would miss.
      iv_[12] = iv_[13] = iv_[14] = 0xFF;
      iv_[15] |= 0xF0;
    }
    expected_ = testing_support::OracleEncrypt(mode(), key_, iv_, plain_);
  }

  CipherMode mode() const { return std::get<0>(GetParam()); }
  KeySize keySize() const { return std::get<1>(GetParam()); }
  size_t size() const { return std::get<2>(GetParam()); }
  Backend backend() const { return std::get<3>(GetParam()); }

  // Writes `input`, runs the job over it and returns the output file's bytes.
  Bytes RunJob(Direction direction, const Bytes& input, JobStatus expectedStatus) {
    testing_support::WriteFileBytes(dir_.File("in"), input);
    testing_support::FileJobSpec job;
    job.direction = direction;
    job.keySize = keySize();
    job.mode = mode();
    job.key = key_;
    job.iv = iv_;
    job.input = dir_.File("in");
    job.output = dir_.File("out");
    const testing_support::FileJobResult result = testing_support::RunFileJob(job);
    EXPECT_TRUE(result.prepared);
    EXPECT_EQ(result.status, expectedStatus);
    EXPECT_EQ(result.stopFlag, engine::kRunning);
    EXPECT_EQ(result.ioError, engine::kNoIoError);
    return testing_support::ReadFileBytes(dir_.File("out"));
  }

  Bytes key_, iv_, plain_, expected_;
  testing_support::TempDir dir_;
};

TEST_P(DifferentialTest, EncryptionMatchesOpenSsl) {
  const Bytes output = RunJob(Direction::Encrypt, plain_, JobStatus::EncryptionComplete);
  if (mode() == CipherMode::Gcm && output.size() >= kTagBytes) {
    // Tag and ciphertext apart, so a failure says which of the two is off.
    EXPECT_TRUE(SameBytes(Bytes(output.begin(), output.begin() + kTagBytes),
                          Bytes(expected_.begin(), expected_.begin() + kTagBytes)))
        << "tag";
    EXPECT_TRUE(SameBytes(Bytes(output.begin() + kTagBytes, output.end()),
                          Bytes(expected_.begin() + kTagBytes, expected_.end())))
        << "ciphertext";
  } else {
    EXPECT_TRUE(SameBytes(output, expected_));
  }
}

// Also the round trip: once encryption matches OpenSSL, this is the job decrypting its own output.
TEST_P(DifferentialTest, DecryptingOpenSslOutputRestoresInput) {
  // A GCM decryption that finishes with DecryptionComplete has found the tag correct.
  const Bytes output = RunJob(Direction::Decrypt, expected_, JobStatus::DecryptionComplete);
  EXPECT_TRUE(SameBytes(output, plain_));
}

INSTANTIATE_TEST_SUITE_P(
    AllModes, DifferentialTest,
    ::testing::Combine(::testing::Values(CipherMode::Ctr, CipherMode::Gcm, CipherMode::Ofb,
                                         CipherMode::Cfb, CipherMode::Cbc, CipherMode::Ecb,
                                         CipherMode::Pcbc),
                       ::testing::Values(KeySize::Bits128, KeySize::Bits192, KeySize::Bits256),
                       ::testing::ValuesIn(kSizes),
                       ::testing::Values(Backend::Software, Backend::Hardware)),
    CaseName);

}  // namespace

// Sealed files against an independent implementation (OpenSSL's PBKDF2 and AES-256-GCM), and
// the rules and failures of the format.
#include "keys/sealed.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <string.h>
#include <unistd.h>

#include "engine/backend.h"
#include "engine/modes.h"
#include "tests/support/fault_injection.h"
#include "tests/support/job_runner.h"
#include "tests/support/test_files.h"

namespace {

using engine::JobStatus;
using testing_support::Bytes;
using testing_support::ReadFileBytes;
using testing_support::WriteFileBytes;

constexpr int kIterations = 524288;

Bytes DeriveWithOpenSsl(const std::string& passphrase, const uint8_t* salt) {
  Bytes key(32);
  PKCS5_PBKDF2_HMAC(passphrase.data(), static_cast<int>(passphrase.size()), salt, 16, kIterations,
                    EVP_sha256(), 32, key.data());
  return key;
}

// header (45 bytes) + body, sealed by OpenSSL alone.
Bytes SealWithOpenSsl(const Bytes& plain, const std::string& passphrase) {
  Bytes file(45 + plain.size());
  file[0] = 1;
  const Bytes random = testing_support::RandomBytes(28, plain.size() + 99);
  memcpy(&file[1], random.data(), 28);  // nonce and salt
  const Bytes key = DeriveWithOpenSsl(passphrase, &file[13]);
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  int length = 0;
  EVP_EncryptInit_ex(ctx, EVP_aes_256_gcm(), nullptr, key.data(), &file[1]);
  EVP_EncryptUpdate(ctx, &file[45], &length, plain.data(), static_cast<int>(plain.size()));
  EVP_EncryptFinal_ex(ctx, &file[45] + length, &length);
  EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_GET_TAG, 16, &file[29]);
  EVP_CIPHER_CTX_free(ctx);
  return file;
}

// Opens a sealed file with OpenSSL alone; false when the tag does not match.
bool OpenWithOpenSsl(const Bytes& file, const std::string& passphrase, Bytes& plain) {
  const Bytes key = DeriveWithOpenSsl(passphrase, &file[13]);
  plain.assign(file.size() - 45, 0);
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  int length = 0;
  EVP_DecryptInit_ex(ctx, EVP_aes_256_gcm(), nullptr, key.data(), &file[1]);
  EVP_DecryptUpdate(ctx, plain.data(), &length, &file[45], static_cast<int>(plain.size()));
  Bytes tag(file.begin() + 29, file.begin() + 45);
  EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_TAG, 16, tag.data());
  const bool good = EVP_DecryptFinal_ex(ctx, plain.data() + length, &length) == 1;
  EVP_CIPHER_CTX_free(ctx);
  return good;
}

struct SealedOutcome {
  bool prepared;
  JobStatus status;
  uint8_t stopFlag;
  uint8_t ioError;
};

SealedOutcome RunSealed(engine::Direction direction, const std::string& in, const std::string& out,
                        const std::string& passphrase,
                        engine::JobHost host = engine::JobHost::Console, bool abortAtOnce = false) {
  testing_support::BuildTablesOnce();
  engine::CipherJob job;
  keys::SetUpSealedJob(job);
  job.host = host;
  job.direction = direction;
  job.mode = engine::CipherMode::Gcm;
  job.disposition = engine::Disposition::CreateAlways;
  strncpy(job.inputPath, in.c_str(), sizeof job.inputPath - 1);
  strncpy(job.outputPath, out.c_str(), sizeof job.outputPath - 1);
  memcpy(job.passphrase, passphrase.data(), passphrase.size());
  job.passphraseLength = static_cast<uint32_t>(passphrase.size());
  SealedOutcome outcome{engine::PrepareJobFiles(job), job.status, 0, 0};
  if (outcome.prepared) {
    if (abortAtOnce) job.stopFlag = engine::kStopRequested;
    if (direction == engine::Direction::Encrypt) {
      keys::EncryptV1File(job);
    } else {
      keys::DecryptV1File(job);
    }
    outcome.status = job.status;
    outcome.stopFlag = job.stopFlag;
    outcome.ioError = job.ioError;
  }
  engine::CloseJobFiles(job);
  engine::WipeJobSecrets(job);
  return outcome;
}

class SealedInterop : public testing::TestWithParam<size_t> {
 protected:
  void SetUp() override { engine::SelectAesBackend(engine::ReadCpuFeatures()); }
  testing_support::TempDir dir_;
};

TEST_P(SealedInterop, OurFileOpensIndependentlyAndTheirsOpensHere) {
  const size_t size = GetParam();
  const std::string passphrase = "correct horse \xE9 battery";
  const Bytes plain = testing_support::RandomBytes(size, size);
  WriteFileBytes(dir_.File("plain"), plain);

  ASSERT_EQ(JobStatus::EncryptionComplete,
            RunSealed(engine::Direction::Encrypt, dir_.File("plain"), dir_.File("ours"), passphrase)
                .status);
  const Bytes ours = ReadFileBytes(dir_.File("ours"));
  ASSERT_EQ(size + 45, ours.size());
  EXPECT_EQ(1, ours[0]);
  Bytes opened;
  EXPECT_TRUE(OpenWithOpenSsl(ours, passphrase, opened));
  EXPECT_EQ(plain, opened);

  WriteFileBytes(dir_.File("theirs"), SealWithOpenSsl(plain, passphrase));
  ASSERT_EQ(
      JobStatus::DecryptionComplete,
      RunSealed(engine::Direction::Decrypt, dir_.File("theirs"), dir_.File("back"), passphrase)
          .status);
  EXPECT_EQ(plain, ReadFileBytes(dir_.File("back")));
}

INSTANTIATE_TEST_SUITE_P(Sizes, SealedInterop, testing::Values(1, 16, 17, 262144 + 5),
                         [](const auto& p) { return "Bytes" + std::to_string(p.param); });

class SealedFailures : public testing::Test {
 protected:
  void SetUp() override {
    engine::SelectAesBackend(engine::ReadCpuFeatures());
    plain_ = testing_support::RandomBytes(1000, 5);
    WriteFileBytes(dir_.File("plain"), plain_);
    ASSERT_EQ(JobStatus::EncryptionComplete,
              RunSealed(engine::Direction::Encrypt, dir_.File("plain"), dir_.File("sealed"), "pass")
                  .status);
    sealed_ = ReadFileBytes(dir_.File("sealed"));
  }
  testing_support::TempDir dir_;
  Bytes plain_, sealed_;
};

TEST_F(SealedFailures, WrongPassphraseWritesTheFullOutputThenFails) {
  const SealedOutcome outcome =
      RunSealed(engine::Direction::Decrypt, dir_.File("sealed"), dir_.File("out"), "Pass");
  EXPECT_EQ(JobStatus::WrongTag, outcome.status);
  EXPECT_EQ(plain_.size(), testing_support::FileSize(dir_.File("out")));
  EXPECT_NE(plain_, ReadFileBytes(dir_.File("out")));
}

TEST_F(SealedFailures, AFlippedByteAnywhereAfterTheVersionFailsAuthentication) {
  for (size_t offset : {1u, 12u, 13u, 28u, 29u, 44u, 45u, 1044u}) {
    Bytes damaged = sealed_;
    damaged[offset] ^= 0x01;
    WriteFileBytes(dir_.File("damaged"), damaged);
    const SealedOutcome outcome = RunSealed(engine::Direction::Decrypt, dir_.File("damaged"),
                                            dir_.File("out"), "pass", engine::JobHost::Window);
    EXPECT_EQ(JobStatus::WrongTag, outcome.status) << "offset " << offset;
    EXPECT_EQ(engine::kWrongTag, outcome.stopFlag) << "offset " << offset;
  }
}

TEST_F(SealedFailures, SizeAndVersionRulesComeBeforeAnyDerivation) {
  struct Case {
    Bytes file;
    JobStatus expected;
  } cases[] = {
      {Bytes{}, JobStatus::TooSmallForHeader},  // the header rule comes before the empty rule
      {Bytes(sealed_.begin(), sealed_.begin() + 45), JobStatus::TooSmallForHeader},
      {[&] {
         Bytes b(sealed_);
         b[0] = 0;
         return b;
       }(),
       JobStatus::NotV1Header},
      {[&] {
         Bytes b(sealed_);
         b[0] = 2;
         return b;
       }(),
       JobStatus::NotV1Header},
  };
  for (const Case& c : cases) {
    WriteFileBytes(dir_.File("in"), c.file);
    const SealedOutcome outcome =
        RunSealed(engine::Direction::Decrypt, dir_.File("in"), dir_.File("out"), "pass");
    EXPECT_FALSE(outcome.prepared);
    EXPECT_EQ(c.expected, outcome.status) << c.file.size() << " bytes";
    EXPECT_FALSE(testing_support::FileExists(dir_.File("out")));
  }
  WriteFileBytes(dir_.File("empty"), Bytes{});
  EXPECT_EQ(
      JobStatus::InputEmpty,
      RunSealed(engine::Direction::Encrypt, dir_.File("empty"), dir_.File("out"), "pass").status);
}

TEST_F(SealedFailures, TheSmallestSealedFileCarriesOneByte) {
  WriteFileBytes(dir_.File("one"), Bytes{0x42});
  ASSERT_EQ(
      JobStatus::EncryptionComplete,
      RunSealed(engine::Direction::Encrypt, dir_.File("one"), dir_.File("one.sealed"), "p").status);
  ASSERT_EQ(46u, testing_support::FileSize(dir_.File("one.sealed")));
  ASSERT_EQ(
      JobStatus::DecryptionComplete,
      RunSealed(engine::Direction::Decrypt, dir_.File("one.sealed"), dir_.File("one.out"), "p")
          .status);
  EXPECT_EQ(Bytes{0x42}, ReadFileBytes(dir_.File("one.out")));
}

TEST_F(SealedFailures, TwoEncryptionsOfOneFileShareNothing) {
  ASSERT_EQ(
      JobStatus::EncryptionComplete,
      RunSealed(engine::Direction::Encrypt, dir_.File("plain"), dir_.File("again"), "pass").status);
  const Bytes again = ReadFileBytes(dir_.File("again"));
  for (size_t field : {1u, 13u, 29u, 45u})  // nonce, salt, tag, body
    EXPECT_NE(0, memcmp(&sealed_[field], &again[field], 12)) << "field at " << field;
}

TEST_F(SealedFailures, AnAbortBeforeTheDerivationStopsEveryBlock) {
  // Window job aborted from the start: the derivation returns before its first iteration, no
  // block runs, and the encryption still writes its header and a tag.
  const SealedOutcome encrypted =
      RunSealed(engine::Direction::Encrypt, dir_.File("plain"), dir_.File("aborted"), "pass",
                engine::JobHost::Window, true);
  EXPECT_EQ(engine::kStopRequested, encrypted.stopFlag);
  EXPECT_EQ(45u, testing_support::FileSize(dir_.File("aborted")));
  // A decryption aborted the same way gives no verdict and writes nothing.
  const SealedOutcome decrypted =
      RunSealed(engine::Direction::Decrypt, dir_.File("sealed"), dir_.File("out"), "pass",
                engine::JobHost::Window, true);
  EXPECT_EQ(engine::kStopRequested, decrypted.stopFlag);
  EXPECT_NE(JobStatus::WrongTag, decrypted.status);
  EXPECT_EQ(0u, testing_support::FileSize(dir_.File("out")));
}

TEST(SealedLimits, ABodyTooLargeForTheCounterIsRefusedBeforeTheOutputExists) {
  testing_support::TempDir dir;
  const std::string huge = dir.File("huge");
  WriteFileBytes(huge, Bytes{});
  ASSERT_EQ(0, truncate(huge.c_str(), 68719476705));  // sparse: no disk used
  const SealedOutcome outcome =
      RunSealed(engine::Direction::Encrypt, huge, dir.File("out"), "pass");
  EXPECT_EQ(JobStatus::TooLargeForGcm, outcome.status);
  EXPECT_FALSE(testing_support::FileExists(dir.File("out")));
}

// I/O failures inside a sealed run, injected under the file layer. The console stops at once:
// nothing more reaches the output, no tag is written or compared. The window ends the run like
// an abort: an encryption still tags the blocks it processed, a decryption gives no verdict.
TEST(SealedFaults, AFailureEndsTheRunAsItsHostWants) {
  using enum engine::Direction;
  using enum engine::JobHost;
  using enum testing_support::Fault;
  constexpr uint64_t kChunk = engine::kChunkSize;
  enum Tag : uint8_t { kZeroTag, kOtherTag, kNoHeader };  // bytes 29..44 of an encryption
  const struct {
    const char* name;
    engine::Direction direction;
    engine::JobHost host;
    bool read;
    testing_support::Fault fault;
    uint64_t at;    // file position of the faulty call
    uint64_t kept;  // output bytes left on disk
    Tag tag;
  } kCases[] = {
      {"HeaderCutShort", Decrypt, Console, true, EndOfFile, 20, 0, kNoHeader},
      {"BodyRead", Decrypt, Console, true, Fail, 45, 0, kNoHeader},
      {"SecondChunkRead", Decrypt, Window, true, Fail, 45 + kChunk, kChunk, kNoHeader},
      {"HeaderWrite", Encrypt, Console, false, Fail, 0, 0, kNoHeader},
      {"HeaderWriteWindow", Encrypt, Window, false, NoProgress, 0, 0, kNoHeader},
      {"BodyWrite", Encrypt, Console, false, Fail, 45, 45, kZeroTag},
      {"BodyWriteWindow", Encrypt, Window, false, Fail, 45, 45, kOtherTag},
      {"TagWrite", Encrypt, Console, false, Fail, 29, 45 + 2 * kChunk + 100, kZeroTag},
      {"BodyReadWindow", Encrypt, Window, true, Fail, kChunk, 45 + kChunk, kOtherTag},
  };
  engine::SelectAesBackend(engine::ReadCpuFeatures());
  testing_support::TempDir dir;
  const std::string passphrase = "pass";
  const Bytes plain = testing_support::RandomBytes(2 * kChunk + 100, 77);
  WriteFileBytes(dir.File("plain"), plain);
  WriteFileBytes(dir.File("sealed"), SealWithOpenSsl(plain, passphrase));
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    testing_support::FaultPlan plan;
    (c.read ? plan.readFault : plan.writeFault) = c.fault;
    (c.read ? plan.readAt : plan.writeAt) = c.at;
    const bool encrypt = c.direction == Encrypt;
    const std::string out = dir.File("out");
    unlink(out.c_str());  // a failure would keep the last row's output
    SealedOutcome outcome;
    testing_support::FaultLog log;
    {
      testing_support::ScopedFileIo io(plan);
      outcome =
          RunSealed(c.direction, dir.File(encrypt ? "plain" : "sealed"), out, passphrase, c.host);
      log = io.log();
    }
    ASSERT_TRUE(outcome.prepared);
    EXPECT_EQ(log.faultsFired, 1);
    const uint8_t ioError = c.read ? engine::kReadFailed : engine::kWriteFailed;
    if (c.host == Console) {
      EXPECT_EQ(outcome.status, c.read ? JobStatus::InputUnreadable : JobStatus::OutputUnwritable);
      EXPECT_EQ(log.writesAfterFault, 0) << "the console wrote after the failure";
    } else {
      EXPECT_EQ(outcome.stopFlag, engine::kStopRequested) << "a failure is no verdict";
      EXPECT_EQ(outcome.ioError, ioError);
    }
    const Bytes left = ReadFileBytes(out);
    ASSERT_EQ(left.size(), c.kept);
    if (!encrypt) {
      EXPECT_TRUE(std::equal(left.begin(), left.end(), plain.begin()));
      continue;
    }
    if (c.tag == kNoHeader) continue;
    // The kept body opens with OpenSSL as the start of the plaintext; the tag is the host's.
    if (left.size() > 45) {
      Bytes opened;
      EXPECT_FALSE(OpenWithOpenSsl(left, passphrase, opened)) << "a damaged file must not open";
      EXPECT_TRUE(std::equal(opened.begin(), opened.end(), plain.begin()));
    }
    const bool zero =
        std::all_of(left.begin() + 29, left.begin() + 45, [](uint8_t b) { return !b; });
    EXPECT_EQ(zero, c.tag == kZeroTag);
  }

  // The version byte cannot be read: refused before the output exists.
  testing_support::FaultPlan plan;
  plan.readFault = Fail;
  testing_support::ScopedFileIo io(plan);
  const SealedOutcome refused =
      RunSealed(Decrypt, dir.File("sealed"), dir.File("never"), passphrase);
  EXPECT_FALSE(refused.prepared);
  EXPECT_EQ(refused.status, JobStatus::InputUnreadable);
  EXPECT_FALSE(testing_support::FileExists(dir.File("never")));
}

}  // namespace

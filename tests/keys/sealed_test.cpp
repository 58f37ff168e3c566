// Sealed files against an independent reading (OpenSSL's PBKDF2 and AES-256-GCM), and the
// failures of the format: wrong passphrase, damage anywhere, abort, and I/O failures injected
// under the file layer. (Its size and version refusals are rows of the job's preparation test.)
#include "keys/sealed.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>

#include "engine/backend.h"
#include "engine/modes.h"
#include "tests/support/fault_injection.h"
#include "tests/support/job_runner.h"

namespace {

using engine::JobStatus;
using testing_support::Bytes;
using testing_support::ReadFileBytes;
using testing_support::WriteFileBytes;
using enum engine::Direction;
using enum engine::JobHost;

// Opens a sealed file with OpenSSL alone: version 1, nonce at 1, salt at 13, tag at 29, body
// from 45; false when the tag does not match. `plain` is the body decrypted either way.
bool OpenWithOpenSsl(const Bytes& file, const std::string& passphrase, Bytes& plain) {
  Bytes key(32);
  PKCS5_PBKDF2_HMAC(passphrase.data(), static_cast<int>(passphrase.size()), &file[13], 16, 524288,
                    EVP_sha256(), 32, key.data());
  plain.assign(file.size() - 45, 0);
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  int length = 0;
  EVP_DecryptInit_ex(ctx, EVP_aes_256_gcm(), nullptr, key.data(), &file[1]);
  EVP_DecryptUpdate(ctx, plain.data(), &length, &file[45], static_cast<int>(plain.size()));
  Bytes tag(file.begin() + 29, file.begin() + 45);
  EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_TAG, 16, tag.data());
  const bool good = EVP_DecryptFinal_ex(ctx, plain.data() + length, &length) == 1;
  EVP_CIPHER_CTX_free(ctx);
  return file[0] == 1 && good;
}

struct SealedOutcome {
  bool prepared;
  JobStatus status;
  engine::StopFlag stopFlag;
  engine::IoError ioError;
};

SealedOutcome RunSealed(engine::Direction direction, const std::string& in, const std::string& out,
                        const std::string& passphrase, engine::JobHost host = Console,
                        bool abortAtOnce = false) {
  engine::CipherJob job;
  testing_support::FileJobSpec spec;
  spec.host = host, spec.direction = direction, spec.input = in, spec.output = out;
  testing_support::FillJob(job, spec);
  keys::SetUpSealedJob(job);
  memcpy(job.passphrase, passphrase.data(), passphrase.size());
  job.passphraseLength = static_cast<uint32_t>(passphrase.size());
  SealedOutcome outcome{engine::PrepareJobFiles(job), job.status, engine::kRunning,
                        engine::kNoIoError};
  if (outcome.prepared) {
    if (abortAtOnce) job.stopFlag = engine::kStopRequested;
    (direction == Encrypt ? keys::EncryptV1File : keys::DecryptV1File)(job);
    outcome = {true, job.status, job.stopFlag, job.ioError};
  }
  engine::CloseJobFiles(job);
  engine::WipeJobSecrets(job);
  return outcome;
}

class SealedTest : public testing::Test {
 protected:
  void SetUp() override {
    testing_support::BuildTablesOnce();
    engine::SelectAesBackend(engine::ReadCpuFeatures());
  }
  std::string File(const std::string& name) const { return dir_.File(name); }
  testing_support::TempDir dir_;
};

class SealedBackendTest : public SealedTest,
                          public testing::WithParamInterface<testing_support::Backend> {
 protected:
  void SetUp() override { USE_BACKEND_OR_SKIP(GetParam()); }
};

// Our file opens with OpenSSL, around the block and the chunk, and opens here again, on every
// backend and GHASH.
TEST_P(SealedBackendTest, OurFileOpensIndependentlyAndHere) {
  const std::string passphrase = "correct horse \xE9 battery";
  for (size_t size : {1, 16, 17, 262144 + 5}) {
    SCOPED_TRACE(size);
    const Bytes plain = testing_support::RandomBytes(size, size);
    WriteFileBytes(File("plain"), plain);
    ASSERT_EQ(RunSealed(Encrypt, File("plain"), File("ours"), passphrase).status,
              JobStatus::EncryptionComplete);
    Bytes opened;
    EXPECT_TRUE(OpenWithOpenSsl(ReadFileBytes(File("ours")), passphrase, opened));
    EXPECT_EQ(plain, opened);
    EXPECT_EQ(RunSealed(Decrypt, File("ours"), File("back"), passphrase).status,
              JobStatus::DecryptionComplete);
    EXPECT_EQ(plain, ReadFileBytes(File("back")));
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, SealedBackendTest, testing::ValuesIn(testing_support::kBackends),
                         [](const auto& test) { return testing_support::BackendName(test.param); });

// A wrong passphrase or a flipped byte anywhere after the version (nonce, salt, tag, body) fails
// authentication, after the whole output is written. Two encryptions of one file share no nonce,
// salt, tag or body.
TEST_F(SealedTest, DamageFailsAndNoTwoFilesShareAField) {
  const Bytes plain = testing_support::RandomBytes(1000, 5);
  WriteFileBytes(File("plain"), plain);
  ASSERT_EQ(RunSealed(Encrypt, File("plain"), File("sealed"), "pass").status,
            JobStatus::EncryptionComplete);
  ASSERT_EQ(RunSealed(Encrypt, File("plain"), File("again"), "pass").status,
            JobStatus::EncryptionComplete);
  const Bytes sealed = ReadFileBytes(File("sealed")), again = ReadFileBytes(File("again"));
  for (size_t field : {1u, 13u, 29u, 45u})
    EXPECT_NE(0, memcmp(&sealed[field], &again[field], 12)) << "field at " << field;

  EXPECT_EQ(RunSealed(Decrypt, File("sealed"), File("out"), "Pass").status, JobStatus::WrongTag);
  EXPECT_EQ(plain.size(), testing_support::FileSize(File("out")));
  for (size_t offset : {1u, 12u, 13u, 28u, 29u, 44u, 45u, 1044u}) {
    Bytes damaged = sealed;
    damaged[offset] ^= 0x01;
    WriteFileBytes(File("damaged"), damaged);
    const SealedOutcome outcome = RunSealed(Decrypt, File("damaged"), File("out"), "pass", Window);
    EXPECT_EQ(JobStatus::WrongTag, outcome.status) << "offset " << offset;
    EXPECT_EQ(engine::kWrongTag, outcome.stopFlag) << "offset " << offset;
  }
}

// A window job aborted from the start: the derivation returns before its first iteration and no
// block runs. The encryption still writes its header and a tag; the decryption gives no verdict
// and writes nothing.
TEST_F(SealedTest, AnAbortBeforeTheDerivationStopsEveryBlock) {
  WriteFileBytes(File("plain"), testing_support::RandomBytes(1000, 5));
  const SealedOutcome encrypted =
      RunSealed(Encrypt, File("plain"), File("sealed"), "pass", Window, true);
  EXPECT_EQ(engine::kStopRequested, encrypted.stopFlag);
  EXPECT_EQ(45u, testing_support::FileSize(File("sealed")));
  ASSERT_EQ(RunSealed(Encrypt, File("plain"), File("sealed"), "pass").status,
            JobStatus::EncryptionComplete);
  const SealedOutcome decrypted =
      RunSealed(Decrypt, File("sealed"), File("out"), "pass", Window, true);
  EXPECT_EQ(engine::kStopRequested, decrypted.stopFlag);
  EXPECT_NE(JobStatus::WrongTag, decrypted.status);
  EXPECT_EQ(0u, testing_support::FileSize(File("out")));
}

// I/O failures inside a sealed run. The console stops at once: nothing more reaches the output,
// no tag is written or compared. The window ends the run like an abort: an encryption still tags
// the blocks it processed, a decryption gives no verdict.
TEST_F(SealedTest, AFailureEndsTheRunAsItsHostWants) {
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
  const std::string passphrase = "pass";
  const Bytes plain = testing_support::RandomBytes(2 * kChunk + 100, 77);
  WriteFileBytes(File("plain"), plain);
  ASSERT_EQ(RunSealed(Encrypt, File("plain"), File("sealed"), passphrase).status,
            JobStatus::EncryptionComplete);
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    testing_support::FaultPlan plan;
    (c.read ? plan.readFault : plan.writeFault) = c.fault;
    (c.read ? plan.readAt : plan.writeAt) = c.at;
    unlink(File("out").c_str());  // a failure would keep the last row's output
    SealedOutcome outcome;
    testing_support::FaultLog log;
    {
      testing_support::ScopedFileIo io(plan);
      outcome = RunSealed(c.direction, File(c.direction == Encrypt ? "plain" : "sealed"),
                          File("out"), passphrase, c.host);
      log = io.log();
    }
    ASSERT_TRUE(outcome.prepared);
    EXPECT_EQ(log.faultsFired, 1);
    if (c.host == Console) {
      EXPECT_EQ(outcome.status, c.read ? JobStatus::InputUnreadable : JobStatus::OutputUnwritable);
      EXPECT_EQ(log.writesAfterFault, 0) << "the console wrote after the failure";
    } else {
      EXPECT_EQ(outcome.stopFlag, engine::kStopRequested) << "a failure is no verdict";
      EXPECT_EQ(outcome.ioError, c.read ? engine::kReadFailed : engine::kWriteFailed);
    }
    const Bytes left = ReadFileBytes(File("out"));
    ASSERT_EQ(left.size(), c.kept);
    if (c.direction == Decrypt) {
      EXPECT_TRUE(std::equal(left.begin(), left.end(), plain.begin()));
    }
    if (c.tag == kNoHeader || c.direction == Decrypt) continue;
    // The kept body opens with OpenSSL as the start of the plaintext; the tag is the host's.
    Bytes opened;
    EXPECT_FALSE(left.size() > 45 && OpenWithOpenSsl(left, passphrase, opened));
    EXPECT_TRUE(std::equal(opened.begin(), opened.end(), plain.begin()));
    EXPECT_EQ(std::all_of(left.begin() + 29, left.begin() + 45, [](uint8_t b) { return !b; }),
              c.tag == kZeroTag);
  }

  // The version byte cannot be read: refused before the output exists.
  testing_support::ScopedFileIo io({.readFault = Fail});
  const SealedOutcome refused = RunSealed(Decrypt, File("sealed"), File("never"), passphrase);
  EXPECT_FALSE(refused.prepared);
  EXPECT_EQ(refused.status, JobStatus::InputUnreadable);
  EXPECT_FALSE(testing_support::FileExists(File("never")));
}

}  // namespace

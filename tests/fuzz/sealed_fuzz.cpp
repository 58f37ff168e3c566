// Sealed-file decryption of arbitrary files through the real job, judged by OpenSSL (PBKDF2 and
// AES-256-GCM): the verdict must be OpenSSL's (a tampered file never decrypts as authentic), the
// output must hold exactly OpenSSL's plaintext of the body, and the size and version rules
// refuse before any output exists. The fuzz build lowers the derivation's iteration count.
#include <openssl/evp.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <vector>

#include "engine/aes.h"
#include "engine/backend.h"
#include "engine/modes.h"
#include "keys/kdf.h"
#include "keys/sealed.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using engine::JobStatus;

// The committed seeds are sealed with this passphrase and count (make_seeds.py).
constexpr char kPassphrase[] = "fuzzing passphrase";
constexpr uint32_t kIterations = 2;

std::string gInput, gOutput;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  engine::BuildAesTables();
  engine::SelectAesBackend(engine::ReadCpuFeatures());
  keys::SetKdfIterationsForFuzzing(kIterations);
  gInput = fuzzing::Scratch().File("in");
  gOutput = fuzzing::Scratch().File("out");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzing::WriteWhole(gInput, data, size);
  unlink(gOutput.c_str());
  const int descriptors = testing_support::OpenDescriptorCount();

  // The software pair, the hardware pair, or the hardware pair with the tables' GHASH by another
  // byte of the nonce: all must give OpenSSL's answer.
  const int backend = size > 2 ? data[2] % 3 : 0;
  if (!engine::ForceAesBackend(backend != 0, backend == 2)) engine::ForceAesBackend(false);
  // Console or window by a byte of the nonce; the window's verdict is in StopFlag.
  static engine::CipherJob job;
  job.host = size > 1 && (data[1] & 1) ? engine::JobHost::Window : engine::JobHost::Console;
  keys::SetUpSealedJob(job);
  job.direction = engine::Direction::Decrypt;
  job.mode = engine::CipherMode::Gcm;
  job.passphraseLength = sizeof kPassphrase - 1;
  memcpy(job.passphrase, kPassphrase, job.passphraseLength);
  snprintf(job.inputPath, sizeof job.inputPath, "%s", gInput.c_str());
  snprintf(job.outputPath, sizeof job.outputPath, "%s", gOutput.c_str());
  job.disposition = engine::Disposition::CreateNew;
  const bool prepared = engine::PrepareJobFiles(job);
  if (prepared) keys::DecryptV1File(job);
  engine::CloseJobFiles(job);
  engine::WipeJobSecrets(job);
  FUZZ_CHECK(testing_support::OpenDescriptorCount() == descriptors);

  if (size < 46 || data[0] != 1) {
    FUZZ_CHECK(!prepared);
    FUZZ_CHECK(job.status == (size < 46 ? JobStatus::TooSmallForHeader : JobStatus::NotV1Header));
    FUZZ_CHECK(!testing_support::FileExists(gOutput));
    return 0;
  }
  FUZZ_CHECK(prepared);
  FUZZ_CHECK(job.ioError == engine::kNoIoError);
  uint8_t key[32];
  FUZZ_CHECK(PKCS5_PBKDF2_HMAC(kPassphrase, sizeof kPassphrase - 1, data + 13, 16, kIterations,
                               EVP_sha256(), sizeof key, key) == 1);
  std::vector<uint8_t> expected;
  const bool authentic =
      fuzzing::OpenSslGcmOpen(key, sizeof key, data + 1, data + 29, data + 45, size - 45, expected);
  if (job.host == engine::JobHost::Window) {
    FUZZ_CHECK(job.stopFlag.load() == (authentic ? engine::kRunning : engine::kWrongTag));
  } else {
    FUZZ_CHECK(job.status == (authentic ? JobStatus::DecryptionComplete : JobStatus::WrongTag));
  }
  FUZZ_CHECK(testing_support::ReadFileBytes(gOutput) == expected);
  return 0;
}

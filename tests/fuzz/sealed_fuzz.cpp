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

// The committed seeds are sealed with this passphrase and count (scripts/make_fuzz_seeds.py).
constexpr char kPassphrase[] = "fuzzing passphrase";
constexpr uint32_t kIterations = 2;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  engine::BuildAesTables();
  engine::SelectAesBackend(engine::ReadCpuFeatures());
  keys::SetKdfIterationsForFuzzing(kIterations);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static engine::CipherJob job;  // the host by a byte of the nonce
  keys::SetUpSealedJob(job);
  job.passphraseLength = sizeof kPassphrase - 1;
  memcpy(job.passphrase, kPassphrase, job.passphraseLength);
  const bool prepared = fuzzing::DecryptFile(job, data, size, 1, keys::DecryptV1File);
  FUZZ_CHECK(prepared == (size >= 46 && data[0] == 1));
  if (!prepared) {
    FUZZ_CHECK(job.status ==
               (size < 46 ? engine::JobStatus::TooSmallForHeader : engine::JobStatus::NotV1Header));
    return 0;
  }
  uint8_t key[32];
  FUZZ_CHECK(PKCS5_PBKDF2_HMAC(kPassphrase, sizeof kPassphrase - 1, data + 13, 16, kIterations,
                               EVP_sha256(), sizeof key, key) == 1);
  std::vector<uint8_t> expected;
  const bool authentic =
      fuzzing::OpenSslGcmOpen(key, sizeof key, data + 1, data + 29, data + 45, size - 45, expected);
  fuzzing::CheckDecryption(job, authentic, expected);
  return 0;
}

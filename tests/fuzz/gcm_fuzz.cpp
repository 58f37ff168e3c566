// GCM decryption of arbitrary files through the real key/IV job, judged by OpenSSL: the verdict
// must be OpenSSL's (a tampered file never decrypts as authentic), the output must hold exactly
// OpenSSL's plaintext, and a file too small for its tag is refused without an output.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <vector>

#include "engine/aes.h"
#include "engine/backend.h"
#include "engine/modes.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// Fixed key and IV: the committed seeds are files sealed under them (scripts/make_fuzz_seeds.py).
constexpr uint8_t kKey[32] = {0x60, 0x3d, 0xeb, 0x10, 0x15, 0xca, 0x71, 0xbe, 0x2b, 0x73, 0xae,
                              0xf0, 0x85, 0x7d, 0x77, 0x81, 0x1f, 0x35, 0x2c, 0x07, 0x3b, 0x61,
                              0x08, 0xd7, 0x2d, 0x98, 0x10, 0xa3, 0x09, 0x14, 0xdf, 0xf4};
constexpr uint8_t kIv[16] = {0xca, 0xfe, 0xba, 0xbe, 0xfa, 0xce, 0xdb, 0xad,
                             0xde, 0xca, 0xf8, 0x88, 0x55, 0x55, 0x55, 0x55};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  engine::BuildAesTables();
  engine::SelectAesBackend(engine::ReadCpuFeatures());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static engine::CipherJob job;  // the host by the first byte, part of the tag anyway
  job.kind = engine::JobKind::KeyIv;
  job.keySize = engine::KeySize::Bits256;
  memcpy(job.key, kKey, sizeof kKey);
  memcpy(job.iv, kIv, sizeof kIv);
  const bool prepared = fuzzing::DecryptFile(job, data, size, 0, engine::RunCipherJob);
  FUZZ_CHECK(prepared == (size > 16));
  if (!prepared) {
    FUZZ_CHECK(job.status ==
               (size == 0 ? engine::JobStatus::InputEmpty : engine::JobStatus::TooSmallForTag));
    return 0;
  }
  std::vector<uint8_t> expected;
  const bool authentic =
      fuzzing::OpenSslGcmOpen(kKey, sizeof kKey, kIv, data, data + 16, size - 16, expected);
  fuzzing::CheckDecryption(job, authentic, expected);
  return 0;
}

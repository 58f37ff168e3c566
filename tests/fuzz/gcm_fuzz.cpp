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

using engine::JobStatus;

// Fixed key and IV: the committed seeds are files sealed under them (make_seeds.py).
constexpr uint8_t kKey[32] = {0x60, 0x3d, 0xeb, 0x10, 0x15, 0xca, 0x71, 0xbe, 0x2b, 0x73, 0xae,
                              0xf0, 0x85, 0x7d, 0x77, 0x81, 0x1f, 0x35, 0x2c, 0x07, 0x3b, 0x61,
                              0x08, 0xd7, 0x2d, 0x98, 0x10, 0xa3, 0x09, 0x14, 0xdf, 0xf4};
constexpr uint8_t kIv[16] = {0xca, 0xfe, 0xba, 0xbe, 0xfa, 0xce, 0xdb, 0xad,
                             0xde, 0xca, 0xf8, 0x88, 0x55, 0x55, 0x55, 0x55};

std::string gInput, gOutput;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  engine::BuildAesTables();
  engine::SelectAesBackend(engine::ReadCpuFeatures());
  gInput = fuzzing::Scratch().File("in");
  gOutput = fuzzing::Scratch().File("out");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzing::WriteWhole(gInput, data, size);
  unlink(gOutput.c_str());
  const int descriptors = testing_support::OpenDescriptorCount();

  // The software pair, the hardware pair, or the hardware pair with the tables' GHASH by another
  // byte of the tag: all must give OpenSSL's answer.
  const int backend = size > 2 ? data[2] % 3 : 0;
  if (!engine::ForceAesBackend(backend != 0, backend == 2)) engine::ForceAesBackend(false);
  // The window reports its verdict in StopFlag, the console in the status: take either by the
  // first byte, which is part of the tag anyway.
  static engine::CipherJob job;
  job.host = size > 0 && (data[0] & 1) ? engine::JobHost::Window : engine::JobHost::Console;
  job.kind = engine::JobKind::KeyIv;
  job.direction = engine::Direction::Decrypt;
  job.keySize = engine::KeySize::Bits256;
  job.mode = engine::CipherMode::Gcm;
  memcpy(job.key, kKey, sizeof kKey);
  memcpy(job.iv, kIv, sizeof kIv);
  snprintf(job.inputPath, sizeof job.inputPath, "%s", gInput.c_str());
  snprintf(job.outputPath, sizeof job.outputPath, "%s", gOutput.c_str());
  job.disposition = engine::Disposition::CreateNew;
  const bool prepared = engine::PrepareJobFiles(job);
  if (prepared) engine::RunCipherJob(job);
  engine::CloseJobFiles(job);
  engine::WipeJobSecrets(job);
  FUZZ_CHECK(testing_support::OpenDescriptorCount() == descriptors);

  if (size <= 16) {
    FUZZ_CHECK(!prepared);
    FUZZ_CHECK(job.status == (size == 0 ? JobStatus::InputEmpty : JobStatus::TooSmallForTag));
    FUZZ_CHECK(!testing_support::FileExists(gOutput));
    return 0;
  }
  FUZZ_CHECK(prepared);
  FUZZ_CHECK(job.ioError == engine::kNoIoError);
  std::vector<uint8_t> expected;
  const bool authentic =
      fuzzing::OpenSslGcmOpen(kKey, sizeof kKey, kIv, data, data + 16, size - 16, expected);
  if (job.host == engine::JobHost::Window) {
    FUZZ_CHECK(job.stopFlag.load() == (authentic ? engine::kRunning : engine::kWrongTag));
  } else {
    FUZZ_CHECK(job.status == (authentic ? JobStatus::DecryptionComplete : JobStatus::WrongTag));
  }
  // The plaintext is written before the verdict, in full, whatever the verdict.
  FUZZ_CHECK(testing_support::ReadFileBytes(gOutput) == expected);
  return 0;
}

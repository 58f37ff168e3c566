// What the fuzz targets share.
#include "tests/fuzz/fuzz_support.h"

#include <openssl/evp.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>

#include "engine/backend.h"
#include "engine/modes.h"

namespace fuzzing {

void CheckFailed(const char* condition, const char* file, int line) {
  fprintf(stderr, "property broken: %s (%s:%d)\n", condition, file, line);
  abort();
}

const testing_support::TempDir& Scratch() {
  static const testing_support::TempDir folder;
  return folder;
}

void WriteWhole(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  FUZZ_CHECK(out.good());
}

bool OpenSslGcmOpen(const uint8_t* key, size_t keyBytes, const uint8_t* nonce, const uint8_t* tag,
                    const uint8_t* body, size_t bodyBytes, std::vector<uint8_t>& plain) {
  const EVP_CIPHER* cipher = keyBytes == 16   ? EVP_aes_128_gcm()
                             : keyBytes == 24 ? EVP_aes_192_gcm()
                                              : EVP_aes_256_gcm();
  plain.assign(bodyBytes, 0);
  EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
  FUZZ_CHECK(context != nullptr);
  int length = 0;
  FUZZ_CHECK(EVP_DecryptInit_ex(context, cipher, nullptr, key, nonce) == 1);
  if (bodyBytes > 0)
    FUZZ_CHECK(
        EVP_DecryptUpdate(context, plain.data(), &length, body, static_cast<int>(bodyBytes)) == 1);
  uint8_t expected[16];
  for (int i = 0; i < 16; ++i)
    expected[i] = tag[i];
  FUZZ_CHECK(EVP_CIPHER_CTX_ctrl(context, EVP_CTRL_GCM_SET_TAG, 16, expected) == 1);
  uint8_t rest[16];
  const bool good = EVP_DecryptFinal_ex(context, rest, &length) == 1;
  EVP_CIPHER_CTX_free(context);
  return good;
}

bool DecryptFile(engine::CipherJob& job, const uint8_t* data, size_t size, size_t hostByte,
                 void (*run)(engine::CipherJob&)) {
  const std::string input = Scratch().File("in"), output = Scratch().File("out");
  WriteWhole(input, data, size);
  unlink(output.c_str());
  const int descriptors = testing_support::OpenDescriptorCount();
  // The software pair, the hardware pair, or the hardware pair with the tables' GHASH.
  const int backend = size > 2 ? data[2] % 3 : 0;
  if (!engine::ForceAesBackend(backend != 0, backend == 2)) engine::ForceAesBackend(false);
  job.host =
      size > hostByte && (data[hostByte] & 1) ? engine::JobHost::Window : engine::JobHost::Console;
  job.direction = engine::Direction::Decrypt;
  job.mode = engine::CipherMode::Gcm;
  job.disposition = engine::Disposition::CreateNew;
  snprintf(job.inputPath, sizeof job.inputPath, "%s", input.c_str());
  snprintf(job.outputPath, sizeof job.outputPath, "%s", output.c_str());
  const bool prepared = engine::PrepareJobFiles(job);
  if (prepared) run(job);
  engine::CloseJobFiles(job);
  engine::WipeJobSecrets(job);
  FUZZ_CHECK(testing_support::OpenDescriptorCount() == descriptors);
  FUZZ_CHECK(prepared || !testing_support::FileExists(output));
  FUZZ_CHECK(!prepared || job.ioError == engine::kNoIoError);
  return prepared;
}

void CheckDecryption(const engine::CipherJob& job, bool authentic,
                     const std::vector<uint8_t>& expected) {
  if (job.host == engine::JobHost::Window) {
    FUZZ_CHECK(job.stopFlag.load() == (authentic ? engine::kRunning : engine::kWrongTag));
  } else {
    FUZZ_CHECK(job.status ==
               (authentic ? engine::JobStatus::DecryptionComplete : engine::JobStatus::WrongTag));
  }
  FUZZ_CHECK(testing_support::ReadFileBytes(Scratch().File("out")) == expected);
}

}  // namespace fuzzing

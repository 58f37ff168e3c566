// The passphrase key derivation (PBKDF2-HMAC-SHA-256, 524,288 iterations) on each SHA-256
// compression path, next to OpenSSL's PKCS5_PBKDF2_HMAC with the same passphrase and salt in the
// same run. Passphrases of 8, 64 and 65 bytes straddle the HMAC key rule (a key over one block is
// hashed first); 512 bytes is the longest the programs accept.
//
// Names: Pbkdf2/<passphrase bytes>/<hw|sw|openssl>; the time is per derivation.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "keys/kdf.h"

namespace {

enum class Implementation { Hardware, Software, OpenSsl };

const uint8_t kSalt[keys::kSaltSize] = {0x3a, 0x91, 0x0c, 0x5e, 0x77, 0xd2, 0x18, 0xab,
                                        0x46, 0xef, 0x20, 0x9b, 0x64, 0x05, 0xc8, 0x3d};

std::vector<uint8_t> Passphrase(size_t length) {
  std::vector<uint8_t> bytes(length);
  for (size_t i = 0; i < length; ++i)
    bytes[i] = static_cast<uint8_t>('a' + i % 26);
  return bytes;
}

void BM_Pbkdf2(benchmark::State& state, size_t length, Implementation implementation) {
  const std::vector<uint8_t> passphrase = Passphrase(length);
  if (implementation != Implementation::OpenSsl &&
      !keys::ForceSha256Backend(implementation == Implementation::Hardware)) {
    state.SkipWithError("this processor has no SHA instructions");
    return;
  }
  uint8_t key[keys::kDerivedKeySize];
  for (auto _ : state) {
    bool ok;
    if (implementation == Implementation::OpenSsl)
      ok = PKCS5_PBKDF2_HMAC(reinterpret_cast<const char*>(passphrase.data()),
                             static_cast<int>(length), kSalt, sizeof kSalt,
                             static_cast<int>(keys::kKdfIterations), EVP_sha256(), sizeof key,
                             key) == 1;
    else
      ok = keys::DerivePassphraseKey(passphrase.data(), length, kSalt, key, nullptr);
    if (!ok) {
      state.SkipWithError("the derivation failed");
      break;
    }
    benchmark::DoNotOptimize(key);
  }
  keys::ForceSha256Backend(keys::Sha256HardwareAvailable());
}

void RegisterAll() {
  const struct {
    Implementation implementation;
    const char* name;
  } implementations[] = {{Implementation::OpenSsl, "openssl"},
                         {Implementation::Hardware, "hw"},
                         {Implementation::Software, "sw"}};
  // The three implementations of one length run back to back, so they share the machine's load.
  for (size_t length : {8, 64, 65, 512}) {
    for (const auto& entry : implementations) {
      const std::string name = "Pbkdf2/" + std::to_string(length) + "/" + entry.name;
      benchmark::RegisterBenchmark(name.c_str(), BM_Pbkdf2, length, entry.implementation)
          ->Unit(benchmark::kMillisecond)
          ->MinTime(1.0);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  RegisterAll();
  benchmark::AddCustomContext("sha_instructions", keys::Sha256HardwareAvailable() ? "yes" : "no");
  benchmark::AddCustomContext("iterations", std::to_string(keys::kKdfIterations));
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

// The sealed file: a 45-byte version-1 header, then the body in AES-256-GCM under a key derived
// from the passphrase. The body is standard GCM (96-bit nonce, no additional data, 128-bit tag),
// so any conforming implementation opens it given the derived key, the nonce and the tag.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "engine/job.h"

namespace keys {

// V1Header layout: all fields raw bytes.
struct V1Header {
  static constexpr size_t kVersionOffset = 0;
  static constexpr size_t kNonceOffset = 1;  // 12 bytes: GCM nonce
  static constexpr size_t kSaltOffset = 13;  // 16 bytes: key-derivation salt
  static constexpr size_t kTagOffset = 29;   // 16 bytes: GCM tag over the body
  static constexpr size_t kSize = 45;
  static constexpr uint8_t kVersion = 1;
  uint8_t bytes[kSize];
};

// What the file job needs to know of the format.
inline constexpr engine::HeaderFormat kV1Format = {V1Header::kSize, V1Header::kVersion};

// Makes `job` a sealed-file job: JobKind::Sealed with this format, AES-256 in GCM.
inline void SetUpSealedJob(engine::CipherJob& job) {
  job.kind = engine::JobKind::Sealed;
  job.header = &kV1Format;
  job.mode = engine::CipherMode::Gcm;
  job.keySize = engine::KeySize::Bits256;
}

// Both run a job prepared by PrepareJobFiles after SetUpSealedJob, with the passphrase in the job.
// The outcome is left in job.status (and StopFlag 2 for a wrong tag); in a windowed job the
// derivation and every block test StopFlag.
//
// Encryption: nonce and salt from two GenerateRandom calls, the header written with a zero tag,
// the key derived and expanded, the body encrypted, the tag patched in at offset 29 (so the
// output is never read back).
void EncryptV1File(engine::CipherJob& job);
// Decryption: header read, key derived from its salt, body decrypted and written as it goes,
// then the tag compared.
void DecryptV1File(engine::CipherJob& job);

}  // namespace keys

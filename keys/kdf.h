// SHA-256 (FIPS 180-4), HMAC-SHA-256 (RFC 2104) and PBKDF2-HMAC-SHA-256 (RFC 8018): the key of
// a sealed file from its passphrase and salt.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <atomic>

#include "engine/job.h"

namespace keys {

constexpr uint32_t kKdfIterations = 524288;  // 2^19, fixed and not stored in the file
constexpr size_t kSaltSize = 16;
constexpr size_t kDerivedKeySize = 32;

void Sha256Digest(const uint8_t* message, size_t length, uint8_t (&digest)[32]);

void HmacSha256(const uint8_t* key, size_t keyLength, const uint8_t* message, size_t messageLength,
                uint8_t (&mac)[32]);

// PBKDF2 with the passphrase as the HMAC key, one 32-byte block, kKdfIterations iterations.
// With `stopFlag` (the windowed tools), the flag is tested before every iteration, the first
// included; at 1 the derivation returns false at once and `key` holds an unfinished value. The
// console passes nullptr and always runs every iteration.
bool DerivePassphraseKey(const uint8_t* passphrase, size_t length, const uint8_t (&salt)[kSaltSize],
                         uint8_t (&key)[kDerivedKeySize],
                         const std::atomic<engine::StopFlag>* stopFlag);

#ifdef AESSUITE_FUZZ_HOOKS
// Fuzzing builds only: the iteration count DerivePassphraseKey uses from now on, so that a
// fuzzer opens thousands of sealed files a second instead of a few. The programs never have it.
void SetKdfIterationsForFuzzing(uint32_t iterations);
#endif

// The general PBKDF2-HMAC-SHA-256 (RFC 8018, section 5.2) behind DerivePassphraseKey: output
// block `blockIndex` (from 1) for any salt and iteration count, with the same `stopFlag` rule.
// Published vectors use other salts, counts and lengths. False when stopped, and for an
// iteration count or block index of 0 (`block` is then untouched).
bool Pbkdf2HmacSha256Block(const uint8_t* passphrase, size_t length, const uint8_t* salt,
                           size_t saltLength, uint32_t iterations, uint32_t blockIndex,
                           uint8_t (&block)[32], const std::atomic<engine::StopFlag>* stopFlag);

// The SHA-256 compression in force: the processor's SHA instructions when present, else
// software. Chosen once; both give identical digests.
bool Sha256HardwareAvailable();
bool Sha256HardwareActive();
// Test and benchmark hook: forces either path. False (nothing changed) when the hardware path
// is asked for but missing.
bool ForceSha256Backend(bool hardware);

}  // namespace keys

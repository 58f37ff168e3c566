// The one source of random bytes: time-stamp-counter jitter whitened with AES, and the
// pseudo-random file run built on it. No operating-system source is used and nothing is stored.
#pragma once

#include <stdint.h>

#include "engine/aes.h"
#include "engine/job.h"

namespace keys {

// RandomPool: 64 bytes seen as 32 little-endian 16-bit words. Zero at start; each call mixes
// into what the previous calls left in bytes 32..63 (bytes 0..31 are wiped as they are given).
struct alignas(16) RandomPool {
  uint8_t bytes[64];
};

// SeenTable: one mark per 16-bit value, cleared at the start of every round.
struct SeenTable {
  uint8_t marks[65536];
};

constexpr int kRandomRounds = 32;
constexpr uint32_t kSamplesPerRound = 65536;

// Returns pool bytes 0..31 after mixing 32 rounds of time-stamp samples into the pool and
// whitening: pool bytes 0..31 become the AES key (only the first 16 or 24 act for the smaller
// sizes), and the encryptions of pool bytes 32..47 and 48..63 replace bytes 0..15 and 16..31.
// Then wipes pool bytes 0..31 and the process's AES key schedule; every job expands its own key
// afterwards.
void GenerateRandom(engine::KeySize whitening, uint8_t (&random)[32]);

// The pool as it stands (tests check it against an independent model).
const RandomPool& CurrentRandomPool();

// Test hook: replaces the time-stamp source (nullptr restores the real one) and clears or sets
// the pool so that a test starts from a known state.
typedef uint64_t (*TimeStampSource)();
void SetTimeStampSource(TimeStampSource source);
void SetRandomPool(const RandomPool& pool);

// Writes a prepared pseudo-random job (JobKind::Prng): AES-256 under a key from GenerateRandom,
// a 128-bit counter that the time-stamp counter pushes after every block, XORed with what the
// chunk buffer already holds. Sets job.status to PrngComplete when it ran to the end. Leaves
// job.keySize as it found it and the key schedule wiped.
void PrngFileRun(engine::CipherJob& job);

}  // namespace keys

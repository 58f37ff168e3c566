// Software AES (FIPS-197): tables built at start-up, key expansion, one block per call.
//
// The table-driven routines index tables with secret data, so they are NOT constant-time; the
// hardware pair (aesni.h) is. Both work from the one process-wide key schedule below.
#pragma once

// Plain C headers only: the AES-instruction unit includes this file.
#include <stdint.h>

#include "engine/block.h"

namespace engine {

// KeySize codes as the job stores them: 10, 12 or 14 rounds.
enum class KeySize : uint8_t { Bits128 = 0, Bits192 = 1, Bits256 = 2 };

inline uint32_t KeyBytes(KeySize size) {
  return 16u + 8u * static_cast<uint32_t>(size);
}
inline uint32_t RoundCount(KeySize size) {
  return 10u + 2u * static_cast<uint32_t>(size);
}

// Up to 15 round keys, round key r at bytes 16r..16r+15. The key source writes the raw key into
// the start of roundKeys; ExpandAesKey fills the rest in place and records the key size with the
// offset of the last round key (Nr x 16), which the block routines use as their round bound.
struct alignas(16) AesKeySchedule {
  uint8_t roundKeys[240];
  uint32_t keySize;          // KeySize code
  uint32_t lastRoundOffset;  // 160, 192 or 224
};

// The one schedule of the process. A job owns it from its key expansion to its end; the random
// generator reuses it for whitening.
extern AesKeySchedule gKeySchedule;

struct alignas(16) AesTables {
  uint32_t Te0[256], Te1[256], Te2[256], Te3[256];
  uint32_t Td0[256], Td1[256], Td2[256], Td3[256];
  uint8_t Sbox[256];
  uint8_t InvSbox[256];
};

extern AesTables gAesTables;

// Computes the S-boxes and round tables. Called once at start-up, before any key expansion.
void BuildAesTables();

// a * b in GF(2^8) modulo x^8+x^4+x^3+x+1, by shift-and-add.
uint8_t GfMul8(uint8_t a, uint8_t b);

// Expands the raw key standing at the start of gKeySchedule (FIPS-197 KeyExpansion). With
// inverse set, converts it to the equivalent-inverse-cipher form (FIPS-197 5.3.5), which the
// software and hardware decryption routines both expect.
void ExpandAesKey(KeySize size, bool inverse);

// Copies a raw key of KeyBytes(size) bytes into the schedule and expands it.
void LoadAesKey(const uint8_t* key, KeySize size, bool inverse);

// One block under the forward schedule.
Block AesEncryptBlock(Block block);
// One block of the equivalent inverse cipher under the inverse-form schedule.
Block AesDecryptBlock(Block block);

// Clears the schedule once a job is done with it.
void WipeAesKeySchedule();

}  // namespace engine

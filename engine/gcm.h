// GCM (SP 800-38D) with a 96-bit IV, no additional data and a 128-bit tag; GHASH by 64 KiB of
// per-byte-position tables, or by carry-less multiply with the hardware AES pair (backend.h). The
// key/IV job writes the tag in front of the ciphertext; the sealed-file format runs the same core
// and keeps the tag in its header.
#pragma once

#include "engine/block.h"
#include "engine/job.h"

namespace engine {

// X * H in GF(2^128), SP 800-38D Algorithm 1, bit by bit. Only used to build the tables.
Block GfMul128(Block x, Block h);

// Fills the tables from H (entry [j][b] = block with byte j = b, times H) and zeroes Y.
void BuildGhashTables(Block h);

// Sets up GHASH under H for the path the backend brings (the tables, or H's powers) and zeroes Y.
void StartGhash(Block h);

// Y = (Y ^ block) * H, by the path StartGhash set up.
void GhashStep(Block block);

// The GHASH accumulator Y.
Block GhashValue();

// inc32 (SP 800-38D): the low 32 bits of the counter block, big-endian, modulo 2^32; bytes
// 0..11 never change.
inline Block Increment32(Block counter) {
  const Block one = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  counter += one;
  for (int i = 15; i > 12 && counter[i] == 0; --i)
    counter[i - 1] = static_cast<uint8_t>(counter[i - 1] + 1);
  return counter;
}

// The shared core: per-job state of one GCM pass over the job's blocks.
struct GcmState {
  Block counter;  // J0 with its low 32 bits stepped per block
  Block tagMask;  // E(J0)
};

// Sets J0 = nonce || 00000001 in the job's IV buffer, computes H, starts GHASH, and E(J0).
// The key must already be expanded in the forward form.
GcmState GcmStart(CipherJob& job);

// The block loop: keystream from the counter, XOR with ReadBlock's block, WriteBlock, GHASH over
// the ciphertext (zero-filled beyond the tail in the final partial block). Stops early on
// StopFlag. The carry-less GHASH takes the ciphertext in eights; Y is whole again on return.
void GcmEncryptBlocks(CipherJob& job, GcmState& state);
void GcmDecryptBlocks(CipherJob& job, GcmState& state);

// GHASH over the length block (no additional data; `dataBytes` of ciphertext), XOR E(J0).
Block GcmFinishTag(const GcmState& state, uint64_t dataBytes);

// Key/IV job runs: tag in front. Encryption writes a zero placeholder, then the data, then the
// tag at offset 0. Decryption reads the tag from offset 0, decrypts, and compares.
void GcmEncryptRun(CipherJob& job);
void GcmDecryptRun(CipherJob& job);

// Wipes H's tables and powers, the accumulator and the last tag mask.
void WipeGcmState();
// Whether all of that state is zero (tests check that a job's end leaves nothing of H behind).
bool GcmStateIsWiped();

}  // namespace engine

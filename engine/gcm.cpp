// GCM (SP 800-38D): 96-bit IV, no additional data, 128-bit tag. GHASH by per-byte tables, or
// by carry-less multiply where the hardware AES pair brings it.
#include "engine/gcm.h"

#include "engine/backend.h"
#include "engine/ghash_clmul.h"
#include "engine/wipe.h"

namespace engine {

namespace {

// Entry [j][b]: the block whose byte j is b and whose other bytes are 0, times H. 64 KiB.
alignas(16) Block gGhashTables[16][256];
Block gGhashPowers[kClmulGhashBlocks];  // H to H^8 for the carry-less multiply
bool gClmulGhash = false;               // which of the two the last StartGhash set up
Block gGhashY;                          // the accumulator Y
Block gLastTagMask;                     // E(J0) of the last run, kept only to be wiped

inline uint64_t LoadBigEndian64(const uint8_t* p) {
  uint64_t v;
  __builtin_memcpy(&v, p, 8);
  return __builtin_bswap64(v);
}

inline void StoreBigEndian64(uint8_t* p, uint64_t v) {
  v = __builtin_bswap64(v);
  __builtin_memcpy(p, &v, 8);
}

// (y) * H through the tables: one lookup per byte of y, XORed as a tree so that the 16 loads
// overlap instead of queueing behind one accumulator.
inline Block GhashMultiply(Block y) {
  const BlockWords words = (BlockWords)y;
  const uint64_t lo = words[0], hi = words[1];  // bytes 0..7 and 8..15, little-endian
#define GHASH_ENTRY(j, word, shift) gGhashTables[j][((word) >> (shift)) & 0xFF]
  const Block a = GHASH_ENTRY(0, lo, 0) ^ GHASH_ENTRY(1, lo, 8);
  const Block b = GHASH_ENTRY(2, lo, 16) ^ GHASH_ENTRY(3, lo, 24);
  const Block c = GHASH_ENTRY(4, lo, 32) ^ GHASH_ENTRY(5, lo, 40);
  const Block d = GHASH_ENTRY(6, lo, 48) ^ GHASH_ENTRY(7, lo, 56);
  const Block e = GHASH_ENTRY(8, hi, 0) ^ GHASH_ENTRY(9, hi, 8);
  const Block f = GHASH_ENTRY(10, hi, 16) ^ GHASH_ENTRY(11, hi, 24);
  const Block g = GHASH_ENTRY(12, hi, 32) ^ GHASH_ENTRY(13, hi, 40);
  const Block h = GHASH_ENTRY(14, hi, 48) ^ GHASH_ENTRY(15, hi, 56);
#undef GHASH_ENTRY
  return ((a ^ b) ^ (c ^ d)) ^ ((e ^ f) ^ (g ^ h));
}

// Keeps bytes 0..tail-1 of a final partial block; GHASH sees the rest as zeros.
inline Block KeepHead(Block block, uint32_t tail) {
  Block mask = {};
  for (uint32_t i = 0; i < tail; ++i)
    mask[i] = 0xFF;
  return block & mask;
}

// The tables: one multiplication per block, as soon as the block is known.
struct TableGhash {
  explicit TableGhash(Block start) : y(start) {}
  Block y;
  void Absorb(Block x) { y = GhashMultiply(y ^ x); }
  Block Finish() const { return y; }
};

// Carry-less multiply: blocks gathered in eights, one reduction for each eight; the blocks a stop
// or the end leaves over go in one call of their own.
struct ClmulGhash {
  explicit ClmulGhash(Block start) : y(start) {}
  Block y;
  Block pending[kClmulGhashBlocks];
  unsigned count = 0;
  void Absorb(Block x) {
    pending[count] = x;
    if (++count == kClmulGhashBlocks) {
      y = ClmulGhashBlocks(y, pending, count, gGhashPowers);
      count = 0;
    }
  }
  Block Finish() const {
    return count == 0 ? y : ClmulGhashBlocks(y, pending, count, gGhashPowers);
  }
};

// GHASH takes the ciphertext: what an encryption writes, what a decryption reads.
template <class Ghash, bool kEncrypt>
void CipherBlocks(CipherJob& job, GcmState& state) {
  const BlockFunction encrypt = CurrentAesBackend().encrypt;
  Block counter = state.counter;
  Ghash ghash{gGhashY};
  while (!job.lastBlock && !StopRequested(job)) {
    counter = Increment32(counter);
    const Block key = encrypt(counter);
    const Block in = ReadBlock(job), out = in ^ key;
    WriteBlock(job, out);
    Block cipher = kEncrypt ? out : in;
    if (job.lastBlock && job.tail != 0) cipher = KeepHead(cipher, job.tail);
    ghash.Absorb(cipher);
  }
  gGhashY = ghash.Finish();
  state.counter = counter;
}

}  // namespace

Block GfMul128(Block x, Block h) {
  uint8_t xb[16], hb[16];
  StoreBlock(xb, x);
  StoreBlock(hb, h);
  uint64_t vHi = LoadBigEndian64(hb), vLo = LoadBigEndian64(hb + 8);
  uint64_t zHi = 0, zLo = 0;
  for (int i = 0; i < 128; ++i) {
    if ((xb[i / 8] >> (7 - i % 8)) & 1) {
      zHi ^= vHi;
      zLo ^= vLo;
    }
    const bool carry = vLo & 1;
    vLo = (vLo >> 1) | (vHi << 63);
    vHi >>= 1;
    if (carry) vHi ^= 0xE1ull << 56;  // R = 11100001 || 0^120
  }
  uint8_t zb[16];
  StoreBigEndian64(zb, zHi);
  StoreBigEndian64(zb + 8, zLo);
  return LoadBlock(zb);
}

void BuildGhashTables(Block h) {
  for (int j = 0; j < 16; ++j) {
    for (int b = 0; b < 256; ++b) {
      Block unit = {};
      unit[j] = static_cast<uint8_t>(b);
      gGhashTables[j][b] = GfMul128(unit, h);
    }
  }
  gGhashY = ZeroBlock();
}

void StartGhash(Block h) {
  gClmulGhash = CurrentGhashPath() == GhashPath::Clmul;
  if (gClmulGhash) {
    ClmulGhashPowers(h, gGhashPowers);
  } else {
    BuildGhashTables(h);
  }
  gGhashY = ZeroBlock();
}

void GhashStep(Block block) {
  gGhashY = gClmulGhash ? ClmulGhashBlocks(gGhashY, &block, 1, gGhashPowers)
                        : GhashMultiply(gGhashY ^ block);
}

Block GhashValue() {
  return gGhashY;
}

GcmState GcmStart(CipherJob& job) {
  const BlockFunction encrypt = CurrentAesBackend().encrypt;
  Block j0 = LoadBlock(job.iv);  // bytes 12..15 of the IV given are replaced
  j0[12] = 0;
  j0[13] = 0;
  j0[14] = 0;
  j0[15] = 1;
  StartGhash(encrypt(ZeroBlock()));
  GcmState state{j0, encrypt(j0)};
  gLastTagMask = state.tagMask;
  return state;
}

void GcmEncryptBlocks(CipherJob& job, GcmState& state) {
  if (gClmulGhash) {
    CipherBlocks<ClmulGhash, true>(job, state);
  } else {
    CipherBlocks<TableGhash, true>(job, state);
  }
}

void GcmDecryptBlocks(CipherJob& job, GcmState& state) {
  if (gClmulGhash) {
    CipherBlocks<ClmulGhash, false>(job, state);
  } else {
    CipherBlocks<TableGhash, false>(job, state);
  }
}

Block GcmFinishTag(const GcmState& state, uint64_t dataBytes) {
  uint8_t lengths[16] = {};  // 64 bits of additional-data length (none), 64 bits of data length
  StoreBigEndian64(lengths + 8, dataBytes * 8);
  GhashStep(LoadBlock(lengths));
  return gGhashY ^ state.tagMask;
}

void GcmEncryptRun(CipherJob& job) {
  const uint64_t dataBytes = job.totalSize;
  // The tag goes in front so that decryption can read it first; until the end it is zeros.
  static const uint8_t kPlaceholder[16] = {};
  if (!SeekFile(job.output, 0) || !WriteAll(job.output, kPlaceholder, 16)) {
    RecordIoFailure(job, kWriteFailed);
    return;
  }
  GcmState state = GcmStart(job);
  GcmEncryptBlocks(job, state);
  StoreBlock(job.iv, state.counter);
  if (!MayFinishAfterStop(job)) return;
  // After an abort the tag still covers the blocks written, with the full planned length.
  uint8_t tag[16];
  StoreBlock(tag, GcmFinishTag(state, dataBytes));
  if (!SeekFile(job.output, 0) || !WriteAll(job.output, tag, 16)) {
    RecordIoFailure(job, kWriteFailed);
    return;
  }
  if (!StopRequested(job)) job.status = JobStatus::EncryptionComplete;
}

void GcmDecryptRun(CipherJob& job) {
  const uint64_t dataBytes = job.totalSize - 16;
  uint8_t stored[16];
  if (!SeekFile(job.input, 0) || ReadFull(job.input, stored, 16) != 16) {
    RecordIoFailure(job, kReadFailed);
    return;
  }
  GcmState state = GcmStart(job);
  GcmDecryptBlocks(job, state);
  StoreBlock(job.iv, state.counter);
  if (StopRequested(job)) return;  // aborted or failed: no verdict
  // The plaintext is already written; only the comparison of all 16 bytes decides.
  if (BlocksEqual(GcmFinishTag(state, dataBytes), LoadBlock(stored))) {
    job.status = JobStatus::DecryptionComplete;
  } else {
    job.status = JobStatus::WrongTag;
    job.stopFlag.store(kWrongTag, std::memory_order_relaxed);
  }
}

bool GcmStateIsWiped() {
  Block any = gGhashY | gLastTagMask;
  for (const Block& power : gGhashPowers)
    any |= power;
  for (const auto& table : gGhashTables)
    for (const Block& entry : table)
      any |= entry;
  return BlocksEqual(any, ZeroBlock());
}

void WipeGcmState() {
  WipeBytes(gGhashTables, sizeof gGhashTables);
  WipeBytes(gGhashPowers, sizeof gGhashPowers);
  WipeBytes(&gGhashY, sizeof gGhashY);
  WipeBytes(&gLastTagMask, sizeof gLastTagMask);
}

}  // namespace engine

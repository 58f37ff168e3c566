// SHA-256 (FIPS 180-4), HMAC-SHA-256 (RFC 2104) and PBKDF2-HMAC-SHA-256 (RFC 8018), in fixed
// buffers: nothing here allocates, and key-dependent temporaries are wiped before returning.
#include "keys/kdf.h"

#include <string.h>

#include <bit>

#include "engine/wipe.h"
#include "keys/sha256_ni.h"

namespace keys {

namespace {

using CompressFunction = void (*)(uint32_t state[8], const uint32_t words[16]);

constexpr size_t kBlockSize = 64;  // SHA-256 block, and so the HMAC key block (RFC 2104)
constexpr size_t kDigestSize = 32;

// FIPS 180-4 section 5.3.3.
constexpr uint32_t kInitialState[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

inline uint32_t LoadBigEndian(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
         static_cast<uint32_t>(bytes[2]) << 8 | static_cast<uint32_t>(bytes[3]);
}

inline void StoreBigEndian(uint8_t* bytes, uint32_t word) {
  bytes[0] = static_cast<uint8_t>(word >> 24);
  bytes[1] = static_cast<uint8_t>(word >> 16);
  bytes[2] = static_cast<uint8_t>(word >> 8);
  bytes[3] = static_cast<uint8_t>(word);
}

// One round of FIPS 180-4 section 6.2.2 step 3; the caller rotates the names instead of the
// values, so only d and h change.
inline void Round(uint32_t a, uint32_t b, uint32_t c, uint32_t& d, uint32_t e, uint32_t f,
                  uint32_t g, uint32_t& h, uint32_t constantPlusWord) {
  const uint32_t t1 = h + (std::rotr(e, 6) ^ std::rotr(e, 11) ^ std::rotr(e, 25)) +
                      (g ^ (e & (f ^ g))) + constantPlusWord;
  const uint32_t t2 =
      (std::rotr(a, 2) ^ std::rotr(a, 13) ^ std::rotr(a, 22)) + (b ^ ((a ^ b) & (b ^ c)));
  d += t1;
  h = t1 + t2;
}

// W[t] of the message schedule, kept in a 16-word window: W[t] replaces W[t-16].
inline uint32_t ScheduleWord(uint32_t (&w)[16], int t) {
  if (t < 16) return w[t];
  const uint32_t w2 = w[(t - 2) & 15];
  const uint32_t w15 = w[(t - 15) & 15];
  w[t & 15] += (std::rotr(w2, 17) ^ std::rotr(w2, 19) ^ (w2 >> 10)) + w[(t - 7) & 15] +
               (std::rotr(w15, 7) ^ std::rotr(w15, 18) ^ (w15 >> 3));
  return w[t & 15];
}

void CompressSoftware(uint32_t state[8], const uint32_t words[16]) {
  uint32_t w[16];
  memcpy(w, words, sizeof w);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
#pragma GCC unroll 8
  for (int t = 0; t < 64; t += 8) {
    Round(a, b, c, d, e, f, g, h, kSha256RoundConstants[t] + ScheduleWord(w, t));
    Round(h, a, b, c, d, e, f, g, kSha256RoundConstants[t + 1] + ScheduleWord(w, t + 1));
    Round(g, h, a, b, c, d, e, f, kSha256RoundConstants[t + 2] + ScheduleWord(w, t + 2));
    Round(f, g, h, a, b, c, d, e, kSha256RoundConstants[t + 3] + ScheduleWord(w, t + 3));
    Round(e, f, g, h, a, b, c, d, kSha256RoundConstants[t + 4] + ScheduleWord(w, t + 4));
    Round(d, e, f, g, h, a, b, c, kSha256RoundConstants[t + 5] + ScheduleWord(w, t + 5));
    Round(c, d, e, f, g, h, a, b, kSha256RoundConstants[t + 6] + ScheduleWord(w, t + 6));
    Round(b, c, d, e, f, g, h, a, kSha256RoundConstants[t + 7] + ScheduleWord(w, t + 7));
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
  state[5] += f;
  state[6] += g;
  state[7] += h;
}

bool HardwareAvailable() {
  static const bool available = Sha256NiSupported();
  return available;
}

// Chosen once, on first use; ForceSha256Backend may replace it between calls.
std::atomic<CompressFunction>& SelectedCompression() {
  static std::atomic<CompressFunction> selected{HardwareAvailable() ? Sha256NiCompress
                                                                    : CompressSoftware};
  return selected;
}

CompressFunction Compression() {
  return SelectedCompression().load(std::memory_order_relaxed);
}

// A running hash over bytes given in pieces.
struct Sha256Context {
  uint32_t state[8];
  uint32_t words[16];
  uint8_t buffer[kBlockSize];
  size_t buffered;
  uint64_t length;  // bytes absorbed so far, the buffered ones included
};

void Start(Sha256Context& context, const uint32_t (&state)[8], uint64_t length) {
  memcpy(context.state, state, sizeof context.state);
  context.buffered = 0;
  context.length = length;
}

void AbsorbBlock(CompressFunction compress, Sha256Context& context, const uint8_t* block) {
  for (size_t i = 0; i < 16; ++i)
    context.words[i] = LoadBigEndian(block + 4 * i);
  compress(context.state, context.words);
}

void Update(CompressFunction compress, Sha256Context& context, const uint8_t* data, size_t size) {
  if (size == 0) return;  // data may be null then
  context.length += size;
  if (context.buffered > 0) {
    const size_t take = size < kBlockSize - context.buffered ? size : kBlockSize - context.buffered;
    memcpy(context.buffer + context.buffered, data, take);
    context.buffered += take;
    data += take;
    size -= take;
    if (context.buffered < kBlockSize) return;
    AbsorbBlock(compress, context, context.buffer);
    context.buffered = 0;
  }
  for (; size >= kBlockSize; data += kBlockSize, size -= kBlockSize)
    AbsorbBlock(compress, context, data);
  memcpy(context.buffer, data, size);
  context.buffered = size;
}

// FIPS 180-4 section 5.1.1: 0x80, zeros, then the 64-bit length in bits.
void Finish(CompressFunction compress, Sha256Context& context, uint8_t (&digest)[kDigestSize]) {
  const uint64_t bits = context.length * 8;
  context.buffer[context.buffered++] = 0x80;
  if (context.buffered > kBlockSize - 8) {
    memset(context.buffer + context.buffered, 0, kBlockSize - context.buffered);
    AbsorbBlock(compress, context, context.buffer);
    context.buffered = 0;
  }
  memset(context.buffer + context.buffered, 0, kBlockSize - 8 - context.buffered);
  for (size_t i = 0; i < 8; ++i)
    context.buffer[kBlockSize - 8 + i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
  AbsorbBlock(compress, context, context.buffer);
  for (size_t i = 0; i < 8; ++i)
    StoreBigEndian(digest + 4 * i, context.state[i]);
}

void Hash(CompressFunction compress, const uint8_t* message, size_t length,
          uint8_t (&digest)[kDigestSize]) {
  Sha256Context context;
  Start(context, kInitialState, 0);
  Update(compress, context, message, length);
  Finish(compress, context, digest);
  engine::WipeBytes(&context, sizeof context);
}

// The HMAC key reduced to the two hash states after its padded block (RFC 2104): every MAC
// under this key starts from them, so the key block is hashed once, not once per MAC.
struct KeyedStates {
  uint32_t inner[8];
  uint32_t outer[8];
};

void PrepareKey(CompressFunction compress, const uint8_t* key, size_t keyLength,
                KeyedStates& keyed) {
  uint8_t block[kBlockSize] = {};
  if (keyLength > kBlockSize) {
    uint8_t digest[kDigestSize];
    Hash(compress, key, keyLength, digest);
    memcpy(block, digest, sizeof digest);
    engine::WipeBytes(digest, sizeof digest);
  } else if (keyLength > 0) {
    memcpy(block, key, keyLength);
  }
  Sha256Context context;
  uint8_t padded[kBlockSize];
  for (size_t i = 0; i < kBlockSize; ++i)
    padded[i] = static_cast<uint8_t>(block[i] ^ 0x36);
  Start(context, kInitialState, 0);
  AbsorbBlock(compress, context, padded);
  memcpy(keyed.inner, context.state, sizeof keyed.inner);
  for (size_t i = 0; i < kBlockSize; ++i)
    padded[i] = static_cast<uint8_t>(block[i] ^ 0x5c);
  Start(context, kInitialState, 0);
  AbsorbBlock(compress, context, padded);
  memcpy(keyed.outer, context.state, sizeof keyed.outer);
  engine::WipeBytes(block, sizeof block);
  engine::WipeBytes(padded, sizeof padded);
  engine::WipeBytes(&context, sizeof context);
}

// Completes a MAC whose message went into `inner` (started from keyed.inner).
void FinishMac(CompressFunction compress, const KeyedStates& keyed, Sha256Context& inner,
               uint8_t (&mac)[kDigestSize]) {
  uint8_t innerDigest[kDigestSize];
  Finish(compress, inner, innerDigest);
  Sha256Context outer;
  Start(outer, keyed.outer, kBlockSize);
  Update(compress, outer, innerDigest, sizeof innerDigest);
  Finish(compress, outer, mac);
  engine::WipeBytes(innerDigest, sizeof innerDigest);
  engine::WipeBytes(&outer, sizeof outer);
}

bool StopRequested(const std::atomic<engine::StopFlag>* stopFlag) {
  return stopFlag != nullptr && stopFlag->load(std::memory_order_relaxed) == 1;
}

}  // namespace

void Sha256Digest(const uint8_t* message, size_t length, uint8_t (&digest)[32]) {
  Hash(Compression(), message, length, digest);
}

void HmacSha256(const uint8_t* key, size_t keyLength, const uint8_t* message, size_t messageLength,
                uint8_t (&mac)[32]) {
  const CompressFunction compress = Compression();
  KeyedStates keyed;
  PrepareKey(compress, key, keyLength, keyed);
  Sha256Context inner;
  Start(inner, keyed.inner, kBlockSize);
  Update(compress, inner, message, messageLength);
  FinishMac(compress, keyed, inner, mac);
  engine::WipeBytes(&keyed, sizeof keyed);
  engine::WipeBytes(&inner, sizeof inner);
}

bool Pbkdf2HmacSha256Block(const uint8_t* passphrase, size_t length, const uint8_t* salt,
                           size_t saltLength, uint32_t iterations, uint32_t blockIndex,
                           uint8_t (&block)[32], const std::atomic<engine::StopFlag>* stopFlag) {
  if (iterations == 0 || blockIndex == 0) return false;
  const CompressFunction compress = Compression();
  KeyedStates keyed;
  PrepareKey(compress, passphrase, length, keyed);

  // From U2 on, each hash input is one block: the 32-byte value, 0x80, zeros and the length
  // 768 bits (the 64-byte key block plus 32 bytes). U lives in words 0-7 of `inner`.
  uint32_t inner[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0x80000000u, 0, 0, 0, 0, 0, 0, 768};
  uint32_t outer[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0x80000000u, 0, 0, 0, 0, 0, 0, 768};
  uint32_t state[8];
  uint32_t sum[8] = {};
  bool finished = true;
  for (uint32_t i = 0; i < iterations; ++i) {
    if (StopRequested(stopFlag)) {
      finished = false;
      break;
    }
    if (i == 0) {
      // U1 = HMAC(P, S || INT(blockIndex)), RFC 8018 section 5.2.
      uint8_t index[4];
      StoreBigEndian(index, blockIndex);
      Sha256Context context;
      Start(context, keyed.inner, kBlockSize);
      Update(compress, context, salt, saltLength);
      Update(compress, context, index, sizeof index);
      uint8_t first[kDigestSize];
      FinishMac(compress, keyed, context, first);
      for (size_t j = 0; j < 8; ++j)
        state[j] = LoadBigEndian(first + 4 * j);
      engine::WipeBytes(&context, sizeof context);
      engine::WipeBytes(first, sizeof first);
    } else {
      memcpy(state, keyed.inner, sizeof state);
      compress(state, inner);
      memcpy(outer, state, sizeof state);
      memcpy(state, keyed.outer, sizeof state);
      compress(state, outer);
    }
    memcpy(inner, state, sizeof state);
    for (size_t j = 0; j < 8; ++j)
      sum[j] ^= state[j];
  }
  for (size_t j = 0; j < 8; ++j)
    StoreBigEndian(block + 4 * j, sum[j]);
  engine::WipeBytes(&keyed, sizeof keyed);
  engine::WipeBytes(inner, sizeof inner);
  engine::WipeBytes(outer, sizeof outer);
  engine::WipeBytes(state, sizeof state);
  engine::WipeBytes(sum, sizeof sum);
  return finished;
}

#ifdef AESSUITE_FUZZ_HOOKS
namespace {
uint32_t gFuzzIterations = kKdfIterations;
}  // namespace

void SetKdfIterationsForFuzzing(uint32_t iterations) {
  gFuzzIterations = iterations;
}
#endif

bool DerivePassphraseKey(const uint8_t* passphrase, size_t length, const uint8_t (&salt)[kSaltSize],
                         uint8_t (&key)[kDerivedKeySize],
                         const std::atomic<engine::StopFlag>* stopFlag) {
#ifdef AESSUITE_FUZZ_HOOKS
  const uint32_t iterations = gFuzzIterations;
#else
  const uint32_t iterations = kKdfIterations;
#endif
  return Pbkdf2HmacSha256Block(passphrase, length, salt, kSaltSize, iterations, 1, key, stopFlag);
}

bool Sha256HardwareAvailable() {
  return HardwareAvailable();
}

bool Sha256HardwareActive() {
  return Compression() == Sha256NiCompress;
}

bool ForceSha256Backend(bool hardware) {
  if (hardware && !HardwareAvailable()) return false;
  SelectedCompression().store(hardware ? Sha256NiCompress : CompressSoftware,
                              std::memory_order_relaxed);
  return true;
}

}  // namespace keys

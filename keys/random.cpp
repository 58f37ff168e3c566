// The generator: time-stamp-counter jitter, whitened with AES.
#include "keys/random.h"

#include <string.h>

#include "engine/aesni.h"
#include "engine/backend.h"
#include "engine/modes.h"
#include "engine/wipe.h"

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#else
#include <time.h>
#endif

namespace keys {

namespace {

RandomPool gPool;
SeenTable gSeen;

uint64_t HardwareTimeStamp() {
#if defined(__x86_64__) || defined(__i386__)
  return __rdtsc();
#else
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
#endif
}

TimeStampSource gTimeStamp = HardwareTimeStamp;

// The first unmarked value at or after v, wrapping. A round always leaves one free, since it
// makes exactly as many samples as there are marks.
uint32_t FirstFree(uint32_t v) {
  const void* hit = memchr(gSeen.marks + v, 0, sizeof gSeen.marks - v);
  if (hit == nullptr) hit = memchr(gSeen.marks, 0, v);
  return static_cast<uint32_t>(static_cast<const uint8_t*>(hit) - gSeen.marks);
}

// The time stamp is added to bytes 0..3 and 4..7 as little-endian words: lanes of this type.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "counter lanes are little-endian words");
typedef uint32_t CounterWords __attribute__((vector_size(16)));

}  // namespace

void SetTimeStampSource(TimeStampSource source) {
  gTimeStamp = source != nullptr ? source : HardwareTimeStamp;
}

void SetRandomPool(const RandomPool& pool) {
  gPool = pool;
}

const RandomPool& CurrentRandomPool() {
  return gPool;
}

void GenerateRandom(engine::KeySize whitening, uint8_t (&random)[32]) {
  for (int round = 0; round < kRandomRounds; ++round) {
    memset(gSeen.marks, 0, sizeof gSeen.marks);
    for (uint32_t i = 0; i < kSamplesPerRound; ++i) {
      uint32_t v = static_cast<uint32_t>(gTimeStamp() & 0xFFFF);
      if (gSeen.marks[v]) v = FirstFree(v);  // probe to the next unmarked value
      gSeen.marks[v] = 1;
      if (v < 32) {
        // Each of the 32 pool words gets exactly one XOR per round: the index of the sample
        // that claimed its mark. The order of claiming is what varies.
        gPool.bytes[2 * v] ^= static_cast<uint8_t>(i);
        gPool.bytes[2 * v + 1] ^= static_cast<uint8_t>(i >> 8);
      }
    }
  }
  engine::LoadAesKey(gPool.bytes, whitening, false);
  const engine::BlockFunction encrypt = engine::CurrentAesBackend().encrypt;
  engine::StoreBlock(gPool.bytes, encrypt(engine::LoadBlock(gPool.bytes + 32)));
  engine::StoreBlock(gPool.bytes + 16, encrypt(engine::LoadBlock(gPool.bytes + 48)));
  memcpy(random, gPool.bytes, 32);
  // The bytes are the caller's key or IV now: neither they nor the whitening key, which with
  // bytes 32..63 would make them again, stay behind. The next call mixes into zeros there.
  engine::WipeBytes(gPool.bytes, 32);
  engine::WipeAesKeySchedule();
}

namespace {

// The pseudo-random block loop; `stamp` is the time-stamp read, inlined when it is the real one.
template <typename Stamp>
engine::Block PrngBlocks(engine::CipherJob& job, engine::Block counter, Stamp stamp) {
  const engine::BlockFunction encrypt = engine::CurrentAesBackend().encrypt;
  while (!job.lastBlock && !engine::StopRequested(job)) {
    // What the chunk buffer already holds (zeros, or an earlier chunk or job) is mixed in.
    engine::WriteBlock(job, engine::ReadBlock(job) ^ encrypt(counter));
    counter = engine::IncrementCounter128(counter);
    // The time stamp pushes bytes 0..3 (by its high half) and 4..7 (by its low half), each a
    // little-endian 32-bit word, with no carry between them: no two runs give the same file.
    const uint64_t t = stamp();
    CounterWords words = (CounterWords)counter;
    words += CounterWords{static_cast<uint32_t>(t >> 32), static_cast<uint32_t>(t), 0, 0};
    counter = (engine::Block)words;
  }
  return counter;
}

}  // namespace

void PrngFileRun(engine::CipherJob& job) {
  engine::ClearUpperVectorState();
  const engine::KeySize remembered = job.keySize;
  job.keySize = engine::KeySize::Bits256;
  engine::CountBlocks(job);
  uint8_t key[32];
  GenerateRandom(engine::KeySize::Bits256, key);
  GenerateRandom(engine::KeySize::Bits256, key);  // the second call's bytes are the key
  engine::LoadAesKey(key, engine::KeySize::Bits256, false);
  engine::Block counter = engine::LoadBlock(key);  // the same bytes as the key's first half
  engine::WipeBytes(key, sizeof key);
  if (gTimeStamp == HardwareTimeStamp) {
    counter = PrngBlocks(job, counter, [] { return HardwareTimeStamp(); });
  } else {
    counter = PrngBlocks(job, counter, [] { return gTimeStamp(); });
  }
  engine::WipeBytes(&counter, sizeof counter);
  engine::WipeAesKeySchedule();  // the key that made the file's bytes
  job.keySize = remembered;
  if (!engine::StopRequested(job)) job.status = engine::JobStatus::PrngComplete;
}

}  // namespace keys

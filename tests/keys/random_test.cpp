// The generator against an independent model, and pseudo-random files on disk.
#include "keys/random.h"

#include <gtest/gtest.h>
#include <string.h>

#include <array>
#include <set>

#include "engine/backend.h"
#include "engine/modes.h"
#include "tests/support/job_runner.h"
#include "tests/support/openssl_oracle.h"

namespace {

using testing_support::Bytes;

// A scripted time-stamp counter: a fixed pseudo-random walk in which a quarter of the samples
// collide on one value, so that probing over marked values happens often.
uint64_t gScriptState = 0;
uint64_t ScriptedTimeStamp() {
  gScriptState = gScriptState * 6364136223846793005ull + 1442695040888963407ull;
  const uint64_t step = gScriptState >> 33;
  return (step % 4 == 0) ? 0x1234 : step;
}

// The model: free slots kept in an ordered set (a different way of finding the next unmarked
// value than the product's scan), whitening by OpenSSL's AES. Returns the 32 bytes given; the
// pool keeps only bytes 32..63.
struct Model {
  Bytes pool = Bytes(64);

  Bytes Generate(size_t keyBytes) {
    std::array<uint16_t, 32> words;
    for (size_t w = 0; w < 32; ++w)
      words[w] = static_cast<uint16_t>(pool[2 * w] | pool[2 * w + 1] << 8);
    for (int round = 0; round < 32; ++round) {
      std::set<uint32_t> free;
      for (uint32_t v = 0; v < 65536; ++v)
        free.insert(v);
      for (uint32_t i = 0; i < 65536; ++i) {
        auto slot = free.lower_bound(static_cast<uint32_t>(ScriptedTimeStamp() & 0xFFFF));
        if (slot == free.end()) slot = free.begin();
        if (*slot < 32) words[*slot] ^= static_cast<uint16_t>(i);
        free.erase(slot);
      }
    }
    for (size_t w = 0; w < 32; ++w) {
      pool[2 * w] = static_cast<uint8_t>(words[w]);
      pool[2 * w + 1] = static_cast<uint8_t>(words[w] >> 8);
    }
    Bytes random = testing_support::OracleEncrypt(engine::CipherMode::Ecb, Prefix(keyBytes),
                                                  Bytes(16), Bytes(pool.begin() + 32, pool.end()));
    random.resize(32);
    std::fill(pool.begin(), pool.begin() + 32, 0);
    return random;
  }
  Bytes Prefix(size_t n) const { return Bytes(pool.begin(), pool.begin() + static_cast<long>(n)); }
};

// Each call mixes into what the last one left (bytes 32..63 stay raw between calls). Neither
// the bytes given nor the whitening key that makes them from bytes 32..63 stay behind.
TEST(GeneratorTest, MatchesTheModelForAScriptedTimeStamp) {
  testing_support::BuildTablesOnce();
  engine::SelectAesBackend(engine::ReadCpuFeatures());
  keys::SetRandomPool(keys::RandomPool{});
  keys::SetTimeStampSource(ScriptedTimeStamp);
  Model model;
  const engine::AesKeySchedule wiped{};
  for (engine::KeySize size : {engine::KeySize::Bits128, engine::KeySize::Bits192,
                               engine::KeySize::Bits256, engine::KeySize::Bits256}) {
    SCOPED_TRACE(static_cast<int>(size));
    uint8_t random[32];
    gScriptState = static_cast<uint64_t>(size) + 7;
    keys::GenerateRandom(size, random);
    gScriptState = static_cast<uint64_t>(size) + 7;  // the model consumes the same stamps
    EXPECT_EQ(Bytes(random, random + 32), model.Generate(engine::KeyBytes(size)));
    EXPECT_EQ(Bytes(keys::CurrentRandomPool().bytes, keys::CurrentRandomPool().bytes + 64),
              model.pool);
    EXPECT_EQ(0, memcmp(&engine::gKeySchedule, &wiped, sizeof wiped));
  }
  keys::SetTimeStampSource(nullptr);
}

// Two 64 MiB files through the real job: the exact size, the selected key size back after the
// run, no key left in the pool or the schedule, bytes spread evenly (chi-square over 255 degrees
// of freedom: the one-in-a-million tails lie near 170 and 360), and not one 16-byte block alike.
TEST(PrngFile, ExactSizeUniformBytesAndNoTwoFilesAlike) {
  USE_BACKEND_OR_SKIP(true);
  testing_support::TempDir dir;
  Bytes files[2];
  for (int i = 0; i < 2; ++i) {
    engine::CipherJob job;
    job.kind = engine::JobKind::Prng;
    job.host = engine::JobHost::Window;
    job.keySize = i == 0 ? engine::KeySize::Bits128 : engine::KeySize::Bits256;
    job.disposition = engine::Disposition::CreateNew;
    snprintf(job.outputPath, sizeof job.outputPath, "%s", dir.File(std::to_string(i)).c_str());
    ASSERT_TRUE(engine::PrepareJobFiles(job));
    keys::PrngFileRun(job);
    const uint8_t zeros[sizeof engine::gKeySchedule] = {};
    EXPECT_EQ(0, memcmp(keys::CurrentRandomPool().bytes, zeros, 32));
    EXPECT_EQ(0, memcmp(&engine::gKeySchedule, zeros, sizeof zeros));
    engine::CloseJobFiles(job);
    EXPECT_EQ(job.status, engine::JobStatus::PrngComplete);
    EXPECT_EQ(job.keySize, i == 0 ? engine::KeySize::Bits128 : engine::KeySize::Bits256);
    files[i] = testing_support::ReadFileBytes(dir.File(std::to_string(i)));
    ASSERT_EQ(files[i].size(), 67108864u);
    double counts[256] = {}, chi = 0;
    for (uint8_t b : files[i])
      counts[b] += 1;
    for (double c : counts)
      chi += (c - 262144) * (c - 262144) / 262144;
    EXPECT_GT(chi, 150);
    EXPECT_LT(chi, 380);
  }
  size_t sameBlocks = 0;
  for (size_t i = 0; i < files[0].size(); i += 16)
    sameBlocks += memcmp(&files[0][i], &files[1][i], 16) == 0;
  EXPECT_EQ(0u, sameBlocks);
}

}  // namespace

// The generator against an independent model, and pseudo-random files on disk.
#include "keys/random.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <stdio.h>
#include <string.h>

#include <array>
#include <cmath>
#include <set>

#include "engine/backend.h"
#include "engine/modes.h"
#include "tests/support/job_runner.h"
#include "tests/support/test_files.h"

namespace {

using testing_support::Bytes;

// A scripted time-stamp counter: a fixed pseudo-random walk, with runs of repeats so that
// probing over marked values happens often.
uint64_t gScriptState = 0;
uint64_t ScriptedTimeStamp() {
  gScriptState = gScriptState * 6364136223846793005ull + 1442695040888963407ull;
  const uint64_t step = gScriptState >> 33;
  return (step % 4 == 0) ? 0x1234 : step;  // a quarter of the samples collide on one value
}

// The model: free slots kept in an ordered set (a different way of finding the next unmarked
// value than the product's scan), whitening by OpenSSL's AES.
struct Model {
  std::array<uint16_t, 32> words{};
  std::array<uint8_t, 64> pool{};

  void Round(uint64_t (*stamp)()) {
    std::set<uint32_t> free;
    for (uint32_t v = 0; v < 65536; ++v)
      free.insert(v);
    for (uint32_t i = 0; i < 65536; ++i) {
      const uint32_t wanted = static_cast<uint32_t>(stamp() & 0xFFFF);
      auto slot = free.lower_bound(wanted);
      if (slot == free.end()) slot = free.begin();
      const uint32_t v = *slot;
      free.erase(slot);
      if (v < 32) words[v] ^= static_cast<uint16_t>(i);
    }
  }

  // The 32 bytes given; the pool keeps only bytes 32..63.
  std::array<uint8_t, 32> Generate(int keyBits, uint64_t (*stamp)()) {
    for (int w = 0; w < 32; ++w) {
      words[w] = static_cast<uint16_t>(pool[2 * w] | pool[2 * w + 1] << 8);
    }
    for (int round = 0; round < 32; ++round)
      Round(stamp);
    for (int w = 0; w < 32; ++w) {
      pool[2 * w] = static_cast<uint8_t>(words[w]);
      pool[2 * w + 1] = static_cast<uint8_t>(words[w] >> 8);
    }
    const EVP_CIPHER* cipher = keyBits == 128   ? EVP_aes_128_ecb()
                               : keyBits == 192 ? EVP_aes_192_ecb()
                                                : EVP_aes_256_ecb();
    uint8_t whitened[48];
    int length = 0;
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(ctx, cipher, nullptr, pool.data(), nullptr);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_EncryptUpdate(ctx, whitened, &length, pool.data() + 32, 32);
    EVP_CIPHER_CTX_free(ctx);
    std::array<uint8_t, 32> random;
    memcpy(random.data(), whitened, 32);
    memset(pool.data(), 0, 32);
    return random;
  }
};

class GeneratorTest : public testing::Test {
 protected:
  void SetUp() override {
    testing_support::BuildTablesOnce();
    engine::SelectAesBackend(engine::ReadCpuFeatures());
  }
  void TearDown() override { keys::SetTimeStampSource(nullptr); }
};

TEST_F(GeneratorTest, MatchesTheModelForAScriptedTimeStamp) {
  const struct {
    engine::KeySize size;
    int bits;
  } sizes[] = {{engine::KeySize::Bits128, 128},
               {engine::KeySize::Bits192, 192},
               {engine::KeySize::Bits256, 256},
               {engine::KeySize::Bits256, 256}};
  keys::SetRandomPool(keys::RandomPool{});
  keys::SetTimeStampSource(ScriptedTimeStamp);
  gScriptState = 7;
  Model model;
  uint64_t modelState = 7;
  // Each call mixes into what the last one left (bytes 32..63 stay raw between calls). Neither
  // the bytes given nor the whitening key that makes them from bytes 32..63 stay behind.
  const engine::AesKeySchedule wiped{};
  for (const auto& size : sizes) {
    uint8_t random[32];
    keys::GenerateRandom(size.size, random);
    std::swap(gScriptState, modelState);  // the model consumes the same stamps
    const std::array<uint8_t, 32> expected = model.Generate(size.bits, ScriptedTimeStamp);
    std::swap(gScriptState, modelState);
    EXPECT_EQ(0, memcmp(random, expected.data(), 32)) << size.bits;
    EXPECT_EQ(0, memcmp(keys::CurrentRandomPool().bytes, model.pool.data(), 64)) << size.bits;
    EXPECT_EQ(0, memcmp(&engine::gKeySchedule, &wiped, sizeof wiped)) << size.bits;
  }
}

TEST_F(GeneratorTest, SuccessiveCallsWithTheRealCounterDiffer) {
  uint8_t first[32], second[32];
  keys::GenerateRandom(engine::KeySize::Bits256, first);
  keys::GenerateRandom(engine::KeySize::Bits256, second);
  EXPECT_NE(0, memcmp(first, second, 32));
}

// Writes a pseudo-random file of the given size index through the real job.
engine::JobStatus WritePrngFile(const std::string& path, engine::KeySize selected,
                                engine::KeySize& after) {
  testing_support::BuildTablesOnce();
  engine::CipherJob job;
  job.kind = engine::JobKind::Prng;
  job.host = engine::JobHost::Window;
  job.keySize = selected;
  job.prngSizeIndex = 0;
  job.disposition = engine::Disposition::CreateNew;
  strncpy(job.outputPath, path.c_str(), sizeof job.outputPath - 1);
  if (!engine::PrepareJobFiles(job)) return job.status;
  keys::PrngFileRun(job);
  // Neither the pool nor the schedule keeps the key that made the file.
  const uint8_t zeros[sizeof engine::gKeySchedule] = {};
  EXPECT_EQ(0, memcmp(keys::CurrentRandomPool().bytes, zeros, 32));
  EXPECT_EQ(0, memcmp(&engine::gKeySchedule, zeros, sizeof zeros));
  engine::CloseJobFiles(job);
  engine::WipeJobSecrets(job);
  after = job.keySize;
  return job.status;
}

double ChiSquare(const Bytes& bytes) {
  std::array<double, 256> counts{};
  for (uint8_t b : bytes)
    counts[b] += 1;
  const double expected = static_cast<double>(bytes.size()) / 256;
  double chi = 0;
  for (double c : counts)
    chi += (c - expected) * (c - expected) / expected;
  return chi;
}

// The size gzip -9 makes of `bytes` (gzip is part of every Debian system).
size_t GzipSize(const Bytes& bytes) {
  testing_support::TempDir dir;
  testing_support::WriteFileBytes(dir.File("sample"), bytes);
  const std::string command = "gzip -9 -c '" + dir.File("sample") + "' | wc -c";
  FILE* pipe = popen(command.c_str(), "r");
  size_t size = 0;
  if (pipe == nullptr || fscanf(pipe, "%zu", &size) != 1) size = 0;
  if (pipe != nullptr) pclose(pipe);
  return size;
}

TEST(PrngFile, ExactSizeUniformBytesAndNoTwoFilesAlike) {
  USE_BACKEND_OR_SKIP(true);
  testing_support::TempDir dir;
  engine::KeySize after = engine::KeySize::Bits256;
  ASSERT_EQ(engine::JobStatus::PrngComplete,
            WritePrngFile(dir.File("a"), engine::KeySize::Bits128, after));
  EXPECT_EQ(engine::KeySize::Bits128, after) << "the selected key size comes back after the run";
  ASSERT_EQ(engine::JobStatus::PrngComplete,
            WritePrngFile(dir.File("b"), engine::KeySize::Bits256, after));
  EXPECT_EQ(67108864u, testing_support::FileSize(dir.File("a")));
  const Bytes a = testing_support::ReadFileBytes(dir.File("a"));
  const Bytes b = testing_support::ReadFileBytes(dir.File("b"));
  ASSERT_EQ(a.size(), b.size());
  // 255 degrees of freedom: the 1-in-a-million tails lie near 170 and 360.
  EXPECT_GT(ChiSquare(a), 150);
  EXPECT_LT(ChiSquare(a), 380);
  EXPECT_LT(ChiSquare(b), 380);
  // gzip finds nothing to squeeze out of the first 4 MiB.
  EXPECT_GE(GzipSize(Bytes(a.begin(), a.begin() + (4 << 20))), 4u << 20);
  // No two files alike, not even a single 16-byte block in the same place.
  size_t sameBlocks = 0;
  for (size_t i = 0; i < a.size(); i += 16)
    sameBlocks += memcmp(&a[i], &b[i], 16) == 0;
  EXPECT_EQ(0u, sameBlocks);
}

}  // namespace

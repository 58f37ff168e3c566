// The processor check, from the CPUID feature words: MMX and SSE2 in EDX are required, AES and
// the carry-less multiply are read from bits 25 and 1 of ECX. The GHASH path follows the AES
// pair. (Which pair each program then installs restates one branch each; the pairs themselves
// run every vector on both sides.)
#include "engine/backend.h"

#include <gtest/gtest.h>

namespace {

constexpr uint32_t kMmx = 1u << 23, kSse2 = 1u << 26, kAes = 1u << 25, kClmul = 1u << 1;

TEST(ProcessorCheck, NeedsMmxAndSse2TogetherAndReadsAesFromEcx) {
  const struct {
    uint32_t edx, ecx;
    bool passes;
    uint8_t aes, clmul;
  } kCases[] = {
      {0, 0, false, 0, 0},
      {kMmx | kSse2, kAes, true, 1, 0},
      {~kMmx, ~0u, false, 1, 1},
      {~kSse2, ~0u, false, 1, 1},
      {kMmx | kSse2 | kAes | kClmul, 0, true, 0, 0},  // EDX bits are not the ECX flags
      {kMmx | kSse2, ~kAes, true, 0, 1},              // every ECX bit but 25
      {kMmx | kSse2, ~kClmul, true, 1, 0},            // every ECX bit but 1
      {(1u << 22) | (1u << 27), kAes, false, 1, 0},   // neighbours of the two EDX bits
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::Message() << std::hex << "edx=" << c.edx << " ecx=" << c.ecx);
    engine::CpuFeatures features = engine::CpuFeaturesFromWords(c.edx, c.ecx);
    EXPECT_EQ(engine::PassesProcessorCheck(features), c.passes);
    EXPECT_EQ(features.aes, c.aes);
    EXPECT_EQ(features.clmul, c.clmul);
  }
  EXPECT_STREQ(engine::kProcessorRefusal, "The CPU needs MMX and SSE2 which was not found");
}

// The software pair keeps the tables' GHASH even where the processor has the carry-less multiply
// (the vectors could not tell: both GHASH paths give the same answers).
TEST(BackendChoice, TheCarrylessGhashComesOnlyWithTheHardwarePair) {
  using enum engine::GhashPath;
  const struct {
    uint32_t ecx;
    char setting;  // the key tool's H or S
    engine::GhashPath path, afterToggle;
  } kRows[] = {{kAes | kClmul, 'H', Clmul, Tables},
               {kAes | kClmul, 'S', Tables, Clmul},
               {kClmul, 'H', Tables, Tables},
               {kAes, 'H', Tables, Tables}};
  for (const auto& row : kRows) {
    SCOPED_TRACE(::testing::Message() << std::hex << row.ecx << " " << row.setting);
    const engine::CpuFeatures features = engine::CpuFeaturesFromWords(kMmx | kSse2, row.ecx);
    engine::AccelerationSetting setting;
    setting.text[0] = row.setting;
    engine::SelectAesBackend(features, setting);
    EXPECT_EQ(engine::CurrentGhashPath(), row.path);
    engine::ToggleAesBackend(features, setting);
    EXPECT_EQ(engine::CurrentGhashPath(), row.afterToggle);
    engine::SelectAesEncryptOnly(features);
    EXPECT_EQ(engine::CurrentGhashPath(), row.setting == 'H' ? row.path : row.afterToggle);
  }
}

}  // namespace

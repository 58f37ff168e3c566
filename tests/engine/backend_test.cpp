// The processor check, from the CPUID feature words: MMX and SSE2 in EDX are required, AES is read
// from bit 25 of ECX. (Which pair each program then installs restates one branch each; the pairs
// themselves run every vector on both sides.)
#include "engine/backend.h"

#include <gtest/gtest.h>

namespace {

TEST(ProcessorCheck, NeedsMmxAndSse2TogetherAndReadsAesFromEcx) {
  constexpr uint32_t kMmx = 1u << 23, kSse2 = 1u << 26, kAes = 1u << 25;
  const struct {
    uint32_t edx, ecx;
    bool passes;
    uint8_t aes;
  } kCases[] = {
      {0, 0, false, 0},
      {kMmx | kSse2, kAes, true, 1},
      {~kMmx, ~0u, false, 1},
      {~kSse2, ~0u, false, 1},
      {kMmx | kSse2 | kAes, 0, true, 0},          // the AES bit in EDX is not the AES flag
      {kMmx | kSse2, ~kAes, true, 0},             // every ECX bit but 25
      {(1u << 22) | (1u << 27), kAes, false, 1},  // neighbours of the two EDX bits
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::Message() << std::hex << "edx=" << c.edx << " ecx=" << c.ecx);
    engine::CpuFeatures features = engine::CpuFeaturesFromWords(c.edx, c.ecx);
    EXPECT_EQ(engine::PassesProcessorCheck(features), c.passes);
    EXPECT_EQ(features.aes, c.aes);
  }
  EXPECT_STREQ(engine::kProcessorRefusal, "The CPU needs MMX and SSE2 which was not found");
}

}  // namespace

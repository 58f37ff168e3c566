// Processor check and the choice of AES pair: the decision from the feature words, the three
// selection forms, and the key tool's acceleration switch. The selections only install routine
// pointers, so faked feature words with AES are safe on any processor.
#include "engine/backend.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/aes.h"
#include "engine/aesni.h"

namespace {

using engine::AccelerationSetting;
using engine::CpuFeaturesFromWords;

constexpr uint32_t kMmx = 1u << 23, kSse2 = 1u << 26, kAes = 1u << 25;
const engine::CpuFeatures kWithAes = CpuFeaturesFromWords(kMmx | kSse2, kAes);
const engine::CpuFeatures kWithoutAes = CpuFeaturesFromWords(kMmx | kSse2, 0);

// The routines in force and HardwareBackendActive(): 'H' hardware, 'S' software, '-' none.
std::string Pair() {
  const auto kind = [](engine::BlockFunction f, engine::BlockFunction h, engine::BlockFunction s) {
    return f == nullptr ? '-' : f == h ? 'H' : f == s ? 'S' : '?';
  };
  const engine::AesBackend& pair = engine::CurrentAesBackend();
  return {kind(pair.encrypt, engine::AesNiEncryptBlock, engine::AesEncryptBlock),
          kind(pair.decrypt, engine::AesNiDecryptBlock, engine::AesDecryptBlock),
          engine::HardwareBackendActive() ? 'H' : 'S'};
}

// Every test leaves the process with the pair it found.
class BackendTest : public ::testing::Test {
 protected:
  void TearDown() override { engine::ForceAesBackend(hardwareBefore_); }
  const bool hardwareBefore_ = engine::HardwareBackendActive();
};

TEST(ProcessorCheck, NeedsMmxAndSse2TogetherAndReadsAesFromEcx) {
  const struct {
    uint32_t edx, ecx;
    bool passes;
    uint8_t aes;
  } kCases[] = {
      {0, 0, false, 0},
      {kMmx | kSse2, kAes, true, 1},
      {~0u, ~0u, true, 1},
      {~kMmx, ~0u, false, 1},
      {~kSse2, ~0u, false, 1},
      {kMmx | kSse2 | kAes, 0, true, 0},          // the AES bit in EDX is not the AES flag
      {kMmx | kSse2, ~kAes, true, 0},             // every ECX bit but 25
      {(1u << 22) | (1u << 27), kAes, false, 1},  // neighbours of the two EDX bits
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::Message() << std::hex << "edx=" << c.edx << " ecx=" << c.ecx);
    engine::CpuFeatures features = CpuFeaturesFromWords(c.edx, c.ecx);
    EXPECT_EQ(engine::PassesProcessorCheck(features), c.passes);
    EXPECT_EQ(features.aes, c.aes);
  }
  EXPECT_STREQ(engine::kProcessorRefusal, "The CPU needs MMX and SSE2 which was not found");
}

// Console: the pair follows AES; passphrase tool: the encrypt routine only; key tool: hardware
// when AES is present and the setting is not "S", which it becomes otherwise.
TEST_F(BackendTest, EachProgramSelectsItsPair) {
  engine::SelectAesBackend(kWithAes);
  EXPECT_EQ(Pair(), "HHH");
  engine::SelectAesBackend(kWithoutAes);
  EXPECT_EQ(Pair(), "SSS");
  engine::SelectAesEncryptOnly(kWithAes);
  EXPECT_EQ(Pair(), "H-H");
  engine::SelectAesEncryptOnly(kWithoutAes);
  EXPECT_EQ(Pair(), "S-S");

  const struct {
    bool aes;
    char start, after;
  } kKeyTool[] = {{true, 'H', 'H'}, {true, 'S', 'S'}, {false, 'H', 'S'}, {false, 'S', 'S'}};
  for (const auto& c : kKeyTool) {
    SCOPED_TRACE(::testing::Message() << "aes " << c.aes << ", setting " << c.start);
    AccelerationSetting setting;
    setting.text[0] = c.start;
    engine::SelectAesBackend(c.aes ? kWithAes : kWithoutAes, setting);
    EXPECT_EQ(std::string(setting.text), std::string(1, c.after));
    EXPECT_EQ(Pair(), std::string(3, c.after));
  }
}

// Clicks alternate the pair with AES and change nothing without it.
TEST_F(BackendTest, ToggleSwitchesOnlyWithAesAndSaysSo) {
  const char* const kNotAvailable = "Hardware acceleration is not available, software only";
  const struct {
    bool aes;
    const char* message;
    const char* after;
  } kClicks[] = {{false, kNotAvailable, "H"},
                 {true, "Hardware acceleration OFF, using software", "S"},
                 {false, kNotAvailable, "S"},
                 {true, "Hardware acceleration ON", "H"}};
  AccelerationSetting setting;  // starts as "H"
  engine::SelectAesBackend(kWithAes, setting);
  for (const auto& click : kClicks) {
    SCOPED_TRACE(click.message);
    engine::ToggleResult result =
        engine::ToggleAesBackend(click.aes ? kWithAes : kWithoutAes, setting);
    EXPECT_EQ(result.switched, click.aes);
    EXPECT_STREQ(result.title, "AES-NI");
    EXPECT_STREQ(result.message, click.message);
    EXPECT_STREQ(setting.text, click.after);
    EXPECT_EQ(Pair(), std::string(3, click.after[0]));
  }
}

// The test hook other tests pick their backend with installs the hardware pair only on a
// processor with AES.
TEST_F(BackendTest, ForcingTheHardwarePairNeedsAes) {
  engine::ForceAesBackend(false);
  EXPECT_EQ(Pair(), "SSS");
  const bool aes = engine::ReadCpuFeatures().aes == 1 && engine::AesNiCompiledIn();
  EXPECT_EQ(engine::ForceAesBackend(true), aes);
  EXPECT_EQ(Pair(), aes ? "HHH" : "SSS");
}

}  // namespace

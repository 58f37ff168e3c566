// Processor check and the choice of AES pair: the decision from the feature words, the three
// selection forms, and the key tool's acceleration switch.
#include "engine/backend.h"

#include <gtest/gtest.h>
#include <string.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "engine/aes.h"
#include "engine/aesni.h"

namespace {

using engine::AccelerationSetting;
using engine::CpuFeatures;
using engine::CpuFeaturesFromWords;

constexpr uint32_t kMmx = 1u << 23;
constexpr uint32_t kSse2 = 1u << 26;
constexpr uint32_t kAes = 1u << 25;

CpuFeatures WithAes() {
  return CpuFeaturesFromWords(kMmx | kSse2, kAes);
}
CpuFeatures WithoutAes() {
  return CpuFeaturesFromWords(kMmx | kSse2, 0);
}

bool ProcessorHasAes() {
  return engine::ReadCpuFeatures().aes == 1 && engine::AesNiCompiledIn();
}

#define REQUIRE_AES_OR_SKIP()                                                         \
  do {                                                                                \
    if (!ProcessorHasAes()) GTEST_SKIP() << "this processor has no AES instructions"; \
  } while (0)

bool SoftwarePairInstalled() {
  const engine::AesBackend& pair = engine::CurrentAesBackend();
  return pair.encrypt == &engine::AesEncryptBlock && pair.decrypt == &engine::AesDecryptBlock;
}

bool HardwarePairInstalled() {
  const engine::AesBackend& pair = engine::CurrentAesBackend();
  return pair.encrypt == &engine::AesNiEncryptBlock && pair.decrypt == &engine::AesNiDecryptBlock;
}

AccelerationSetting Setting(char letter) {
  AccelerationSetting setting;
  setting.text[0] = letter;
  return setting;
}

// Every test leaves the process with the pair it found.
class BackendTest : public ::testing::Test {
 protected:
  void SetUp() override { hardwareBefore_ = engine::HardwareBackendActive(); }
  void TearDown() override { engine::ForceAesBackend(hardwareBefore_); }

 private:
  bool hardwareBefore_ = false;
};

TEST(ProcessorCheck, NeedsMmxAndSse2TogetherAndReadsAesFromEcx) {
  struct Case {
    uint32_t edx, ecx;
    bool passes;
    uint8_t aes;
  };
  const Case cases[] = {
      {0, 0, false, 0},
      {kMmx, kAes, false, 1},
      {kSse2, kAes, false, 1},
      {kMmx | kSse2, 0, true, 0},
      {kMmx | kSse2, kAes, true, 1},
      {0xFFFFFFFFu, 0xFFFFFFFFu, true, 1},
      {~kMmx, 0xFFFFFFFFu, false, 1},
      {~kSse2, 0xFFFFFFFFu, false, 1},
      {kMmx | kSse2 | kAes, 0, true, 0},          // the AES bit in EDX is not the AES flag
      {kMmx | kSse2, ~kAes, true, 0},             // every ECX bit but 25
      {kMmx | kSse2, kMmx | kSse2, true, 0},      // MMX/SSE2 positions in ECX mean nothing
      {(1u << 22) | (1u << 27), kAes, false, 1},  // neighbours of the two EDX bits
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << "edx=" << c.edx << " ecx=" << c.ecx);
    CpuFeatures features = CpuFeaturesFromWords(c.edx, c.ecx);
    EXPECT_EQ(engine::PassesProcessorCheck(features), c.passes);
    EXPECT_EQ(features.aes, c.aes);
  }
  EXPECT_STREQ(engine::kProcessorRefusal, "The CPU needs MMX and SSE2 which was not found");
}

#if defined(__x86_64__) || defined(__i386__)
// The real feature words agree with what the kernel reports for this processor.
TEST(ProcessorCheck, ReadsThisProcessorAsTheKernelDoes) {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  std::set<std::string> flags;
  while (std::getline(cpuinfo, line)) {
    if (line.rfind("flags", 0) != 0) continue;
    std::istringstream words(line.substr(line.find(':') + 1));
    for (std::string word; words >> word;)
      flags.insert(word);
    break;
  }
  if (flags.empty()) GTEST_SKIP() << "no /proc/cpuinfo flags";
  CpuFeatures features = engine::ReadCpuFeatures();
  EXPECT_EQ(features.aes, flags.count("aes") ? 1 : 0);
  EXPECT_EQ(engine::PassesProcessorCheck(features), flags.count("mmx") && flags.count("sse2"));
}
#endif

TEST_F(BackendTest, ConsoleTakesTheHardwarePairOnlyWithAes) {
  engine::SelectAesBackend(WithoutAes());
  EXPECT_TRUE(SoftwarePairInstalled());
  EXPECT_FALSE(engine::HardwareBackendActive());

  REQUIRE_AES_OR_SKIP();
  engine::SelectAesBackend(WithAes());
  EXPECT_TRUE(HardwarePairInstalled());
  EXPECT_TRUE(engine::HardwareBackendActive());
  engine::SelectAesBackend(WithoutAes());
  EXPECT_TRUE(SoftwarePairInstalled());
}

TEST_F(BackendTest, PassphraseToolHoldsTheEncryptRoutineOnly) {
  engine::SelectAesEncryptOnly(WithoutAes());
  EXPECT_EQ(engine::CurrentAesBackend().encrypt, &engine::AesEncryptBlock);
  EXPECT_EQ(engine::CurrentAesBackend().decrypt, nullptr);

  REQUIRE_AES_OR_SKIP();
  engine::SelectAesEncryptOnly(WithAes());
  EXPECT_EQ(engine::CurrentAesBackend().encrypt, &engine::AesNiEncryptBlock);
  EXPECT_EQ(engine::CurrentAesBackend().decrypt, nullptr);
}

TEST_F(BackendTest, KeyToolStartsInSoftwareWithoutAesWhateverTheSetting) {
  for (char start : {'H', 'S'}) {
    SCOPED_TRACE(start);
    AccelerationSetting setting = Setting(start);
    engine::SelectAesBackend(WithoutAes(), setting);
    EXPECT_STREQ(setting.text, "S");
    EXPECT_TRUE(setting.Software());
    EXPECT_TRUE(SoftwarePairInstalled());
  }
}

TEST_F(BackendTest, KeyToolFollowsTheSettingWithAes) {
  REQUIRE_AES_OR_SKIP();
  AccelerationSetting hardware;  // starts as "H"
  EXPECT_STREQ(hardware.text, "H");
  engine::SelectAesBackend(WithAes(), hardware);
  EXPECT_STREQ(hardware.text, "H");
  EXPECT_TRUE(HardwarePairInstalled());

  AccelerationSetting software = Setting('S');
  engine::SelectAesBackend(WithAes(), software);
  EXPECT_STREQ(software.text, "S");
  EXPECT_TRUE(SoftwarePairInstalled());
}

TEST_F(BackendTest, ToggleWithoutAesChangesNothing) {
  for (char start : {'S', 'H'}) {
    SCOPED_TRACE(start);
    engine::ForceAesBackend(false);
    AccelerationSetting setting = Setting(start);
    engine::ToggleResult result = engine::ToggleAesBackend(WithoutAes(), setting);
    EXPECT_FALSE(result.switched);
    EXPECT_STREQ(result.title, "AES-NI");
    EXPECT_STREQ(result.message, "Hardware acceleration is not available, software only");
    EXPECT_EQ(setting.text[0], start);
    EXPECT_EQ(setting.text[1], '\0');
    EXPECT_TRUE(SoftwarePairInstalled());
  }
}

TEST_F(BackendTest, TwoTogglesWithAesReturnToTheStart) {
  REQUIRE_AES_OR_SKIP();
  AccelerationSetting setting;
  engine::SelectAesBackend(WithAes(), setting);
  ASSERT_TRUE(HardwarePairInstalled());

  engine::ToggleResult off = engine::ToggleAesBackend(WithAes(), setting);
  EXPECT_TRUE(off.switched);
  EXPECT_STREQ(off.title, "AES-NI");
  EXPECT_STREQ(off.message, "Hardware acceleration OFF, using software");
  EXPECT_STREQ(setting.text, "S");
  EXPECT_TRUE(SoftwarePairInstalled());
  EXPECT_FALSE(engine::HardwareBackendActive());

  engine::ToggleResult on = engine::ToggleAesBackend(WithAes(), setting);
  EXPECT_TRUE(on.switched);
  EXPECT_STREQ(on.title, "AES-NI");
  EXPECT_STREQ(on.message, "Hardware acceleration ON");
  EXPECT_STREQ(setting.text, "H");
  EXPECT_TRUE(HardwarePairInstalled());
  EXPECT_TRUE(engine::HardwareBackendActive());
}

TEST_F(BackendTest, ForcingTheHardwarePairFailsCleanlyWithoutAes) {
  engine::ForceAesBackend(false);
  EXPECT_TRUE(SoftwarePairInstalled());
  if (ProcessorHasAes()) {
    EXPECT_TRUE(engine::ForceAesBackend(true));
    EXPECT_TRUE(HardwarePairInstalled());
  } else {
    EXPECT_FALSE(engine::ForceAesBackend(true));
    EXPECT_TRUE(SoftwarePairInstalled());
  }
}

}  // namespace

// Processor check and the choice between the hardware and the software AES pair, and with it
// the GHASH path.
#include "engine/backend.h"

#include "engine/aes.h"
#include "engine/aesni.h"
#include "engine/ghash_clmul.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace engine {

namespace {

constexpr AesBackend kSoftwarePair{AesEncryptBlock, AesDecryptBlock};
constexpr AesBackend kHardwarePair{AesNiEncryptBlock, AesNiDecryptBlock};

AesBackend gBackend = kSoftwarePair;
bool gHardwareActive = false;
GhashPath gGhashPath = GhashPath::Tables;

void Install(bool hardware, bool encryptOnly, bool clmul) {
  gBackend = hardware ? kHardwarePair : kSoftwarePair;
  if (encryptOnly) gBackend.decrypt = nullptr;
  gHardwareActive = hardware;
  gGhashPath = hardware && clmul ? GhashPath::Clmul : GhashPath::Tables;
}

constexpr char kAccelTitle[] = "AES-NI";

}  // namespace

CpuFeatures CpuFeaturesFromWords(uint32_t edx, uint32_t ecx) {
  CpuFeatures features;
  features.edx = edx;
  features.ecx = ecx;
  features.aes = (ecx & kAesBit) ? 1 : 0;
  features.clmul = (ecx & kClmulBit) ? 1 : 0;
  return features;
}

CpuFeatures ReadCpuFeatures() {
#if defined(__x86_64__) || defined(__i386__)
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return CpuFeaturesFromWords(0, 0);
  CpuFeatures features = CpuFeaturesFromWords(edx, ecx);
  if (!AesNiCompiledIn()) features.aes = 0;
  if (!ClmulCompiledIn()) features.clmul = 0;
  return features;
#else
  // Other processor families have no MMX or SSE2 to ask about; nothing here needs them.
  return CpuFeaturesFromWords(kMmxSse2Bits, 0);
#endif
}

bool PassesProcessorCheck(const CpuFeatures& features) {
  return (features.edx & kMmxSse2Bits) == kMmxSse2Bits;
}

const AesBackend& CurrentAesBackend() {
  return gBackend;
}
bool HardwareBackendActive() {
  return gHardwareActive;
}
GhashPath CurrentGhashPath() {
  return gGhashPath;
}

void SelectAesBackend(const CpuFeatures& features) {
  Install(features.aes == 1, false, features.clmul == 1);
}

void SelectAesEncryptOnly(const CpuFeatures& features) {
  Install(features.aes == 1, true, features.clmul == 1);
}

void SelectAesBackend(const CpuFeatures& features, AccelerationSetting& setting) {
  if (features.aes == 1 && !setting.Software()) {
    Install(true, false, features.clmul == 1);
    setting.text[0] = 'H';
  } else {
    Install(false, false, features.clmul == 1);
    setting.text[0] = 'S';
  }
}

ToggleResult ToggleAesBackend(const CpuFeatures& features, AccelerationSetting& setting) {
  if (features.aes == 0)
    return {false, kAccelTitle, "Hardware acceleration is not available, software only"};
  if (!setting.Software()) {
    setting.text[0] = 'S';
    Install(false, false, features.clmul == 1);
    return {true, kAccelTitle, "Hardware acceleration OFF, using software"};
  }
  setting.text[0] = 'H';
  Install(true, false, features.clmul == 1);
  return {true, kAccelTitle, "Hardware acceleration ON"};
}

bool ForceAesBackend(bool hardware, bool tableGhash) {
  const CpuFeatures features = ReadCpuFeatures();
  if (hardware && (features.aes == 0 || (!tableGhash && features.clmul == 0))) return false;
  Install(hardware, false, !tableGhash);
  return true;
}

}  // namespace engine

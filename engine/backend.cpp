// Processor check and the choice between the hardware and the software AES pair.
#include "engine/backend.h"

#include "engine/aes.h"
#include "engine/aesni.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace engine {

namespace {

constexpr AesBackend kSoftwarePair{AesEncryptBlock, AesDecryptBlock};
constexpr AesBackend kHardwarePair{AesNiEncryptBlock, AesNiDecryptBlock};

AesBackend gBackend = kSoftwarePair;
bool gHardwareActive = false;

void Install(bool hardware, bool encryptOnly) {
  gBackend = hardware ? kHardwarePair : kSoftwarePair;
  if (encryptOnly) gBackend.decrypt = nullptr;
  gHardwareActive = hardware;
}

constexpr char kAccelTitle[] = "AES-NI";

}  // namespace

CpuFeatures CpuFeaturesFromWords(uint32_t edx, uint32_t ecx) {
  CpuFeatures features;
  features.edx = edx;
  features.ecx = ecx;
  features.aes = (ecx & kAesBit) ? 1 : 0;
  return features;
}

CpuFeatures ReadCpuFeatures() {
#if defined(__x86_64__) || defined(__i386__)
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return CpuFeaturesFromWords(0, 0);
  CpuFeatures features = CpuFeaturesFromWords(edx, ecx);
  if (!AesNiCompiledIn()) features.aes = 0;
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

void SelectAesBackend(const CpuFeatures& features) {
  Install(features.aes == 1, false);
}

void SelectAesEncryptOnly(const CpuFeatures& features) {
  Install(features.aes == 1, true);
}

void SelectAesBackend(const CpuFeatures& features, AccelerationSetting& setting) {
  if (features.aes == 1 && !setting.Software()) {
    Install(true, false);
    setting.text[0] = 'H';
  } else {
    Install(false, false);
    setting.text[0] = 'S';
  }
}

ToggleResult ToggleAesBackend(const CpuFeatures& features, AccelerationSetting& setting) {
  if (features.aes == 0)
    return {false, kAccelTitle, "Hardware acceleration is not available, software only"};
  if (!setting.Software()) {
    setting.text[0] = 'S';
    Install(false, false);
    return {true, kAccelTitle, "Hardware acceleration OFF, using software"};
  }
  setting.text[0] = 'H';
  Install(true, false);
  return {true, kAccelTitle, "Hardware acceleration ON"};
}

bool ForceAesBackend(bool hardware) {
  if (hardware && ReadCpuFeatures().aes == 0) return false;
  Install(hardware, false);
  return true;
}

}  // namespace engine

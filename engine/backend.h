// Processor check and the choice between the hardware and the software AES pair, and with it
// the GHASH path.
#pragma once

#include <stdint.h>

#include "engine/block.h"

namespace engine {

// CPUID leaf 1: the feature words the suite looks at.
struct CpuFeatures {
  uint32_t edx = 0;   // MMX bit 23, SSE2 bit 26
  uint32_t ecx = 0;   // AES bit 25, PCLMULQDQ bit 1
  uint8_t aes = 0;    // 1 when the AES instructions are present
  uint8_t clmul = 0;  // 1 when the carry-less multiply is present
};

constexpr uint32_t kMmxSse2Bits = 0x04800000u;
constexpr uint32_t kAesBit = 0x02000000u;
constexpr uint32_t kClmulBit = 0x00000002u;
constexpr char kProcessorRefusal[] = "The CPU needs MMX and SSE2 which was not found";

// Reads CPUID leaf 1 (off x86: MMX/SSE2 reported present, AES and carry-less multiply absent).
CpuFeatures ReadCpuFeatures();
// Builds the features from raw feature words, as CPUID would deliver them (tests fake these).
CpuFeatures CpuFeaturesFromWords(uint32_t edx, uint32_t ecx);
// True when the program may run: both MMX and SSE2 present.
bool PassesProcessorCheck(const CpuFeatures& features);

// The pair of one-block routines in force for the whole process.
struct AesBackend {
  BlockFunction encrypt = nullptr;
  BlockFunction decrypt = nullptr;  // null in the passphrase tool, which never deciphers
};

const AesBackend& CurrentAesBackend();
bool HardwareBackendActive();

// How GCM multiplies by H: by 64 KiB of tables (software, not constant-time), or by the carry-less
// multiply (constant-time). The hardware AES pair brings the carry-less multiply where the
// processor has it; the software pair always has the tables, so that path stays whole.
enum class GhashPath : uint8_t { Tables, Clmul };
GhashPath CurrentGhashPath();

// Console: the hardware pair when the processor has AES, else the software pair.
void SelectAesBackend(const CpuFeatures& features);
// Passphrase tool: the encrypt routine only, hardware when available.
void SelectAesEncryptOnly(const CpuFeatures& features);

// Key tool: "H" for the hardware pair, "S" for software; also the text of its indicator.
struct AccelerationSetting {
  char text[2] = {'H', '\0'};
  bool Software() const { return text[0] == 'S'; }
};

// Key tool: hardware when available and the setting is not "S"; otherwise software and "S".
void SelectAesBackend(const CpuFeatures& features, AccelerationSetting& setting);

// What a click on the key tool's indicator did, with the status texts to show.
struct ToggleResult {
  bool switched;
  const char* title;    // "AES-NI"
  const char* message;  // one of the three messages
};
ToggleResult ToggleAesBackend(const CpuFeatures& features, AccelerationSetting& setting);

// Test hook: installs the hardware or the software pair regardless of the selection rules; the
// hardware pair with the carry-less GHASH, or with the tables when `tableGhash` (as on a processor
// with AES but without PCLMULQDQ). Returns false (and changes nothing) when the hardware pair or
// its carry-less GHASH is asked for but unavailable.
bool ForceAesBackend(bool hardware, bool tableGhash = false);

}  // namespace engine

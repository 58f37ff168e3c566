// The one table of modes: what each mode is called, how much IV it takes, whether its output is
// padded and which cipher direction decrypts it. The console's keywords, the key tool's labels,
// settings lines and key fields, and the file job all read it; adding a mode starts here (and
// with its run routine in modes.cpp).
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace engine {

// The codes are stored in the key tool's settings and chosen on command lines: they never change.
enum class CipherMode : uint8_t { Ctr = 0, Gcm = 1, Ofb = 2, Cfb = 3, Cbc = 4, Ecb = 5, Pcbc = 6 };

struct ModeTraits {
  CipherMode mode;
  const char* name;      // keyword and label, upper case: "CTR"
  const char* longName;  // shown when the key tool switches to it: "Counter"
  uint8_t ivBytes;       // 16; 12 for GCM's nonce; 0 for ECB, which takes none
  bool padded;           // encryption pads to whole blocks (1 to 16 bytes of value p)
  bool inverseCipher;    // decryption runs the inverse cipher; the others run forward only
  bool tagged;           // an authentication tag in front decides a decryption's outcome
};

inline constexpr ModeTraits kModeTable[] = {
    {CipherMode::Ctr, "CTR", "Counter", 16, false, false, false},
    {CipherMode::Gcm, "GCM", "Galois Counter", 12, false, false, true},
    {CipherMode::Ofb, "OFB", "Output Feedback", 16, false, false, false},
    {CipherMode::Cfb, "CFB", "Cipher Feedback (128)", 16, true, false, false},
    {CipherMode::Cbc, "CBC", "Cipher Block Chaining", 16, true, true, false},
    {CipherMode::Ecb, "ECB", "Electronic Codebook", 0, true, true, false},
    {CipherMode::Pcbc, "PCBC", "Propagating Cipher Block Chaining", 16, true, true, false},
};
inline constexpr int kModeCount = static_cast<int>(sizeof kModeTable / sizeof kModeTable[0]);

static_assert(
    [] {
      for (int i = 0; i < kModeCount; ++i)
        if (static_cast<int>(kModeTable[i].mode) != i) return false;
      return true;
    }(),
    "the table stands in code order");

constexpr const ModeTraits& Traits(CipherMode mode) {
  return kModeTable[static_cast<size_t>(mode)];
}

constexpr bool IsPaddedMode(CipherMode mode) {
  return Traits(mode).padded;
}

}  // namespace engine

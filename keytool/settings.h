// KeyToolSettings: the key tool's start-up state, preset and partly frozen by "config.ini".
// Plain C++: no Qt here, so the reading is tested on its own.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "engine/aes.h"
#include "engine/job.h"

namespace keytool {

// LockMask: each set bit freezes one control, which keeps its look and ignores clicks.
typedef uint16_t LockMask;
constexpr LockMask kLockKeySize = 0x0001;
constexpr LockMask kLockMode = 0x0002;
constexpr LockMask kLockInput = 0x0004;  // the "Open" label and the input clear button
constexpr LockMask kLockIvLoad = 0x0008, kLockIvSave = 0x0010, kLockIvRand = 0x0020,
                   kLockIvCopy = 0x0040, kLockIvPaste = 0x0080, kLockIvZero = 0x0100;
constexpr LockMask kLockKeyLoad = 0x0200, kLockKeySave = 0x0400, kLockKeyRand = 0x0800,
                   kLockKeyCopy = 0x1000, kLockKeyPaste = 0x2000, kLockKeyZero = 0x4000;
constexpr LockMask kLockIvTools = 0x01F8;
constexpr LockMask kLockKeyTools = 0x7E00;
constexpr LockMask kLockAllTools = 0x7FF8;

struct KeyToolSettings {
  char acceleration = 'H';  // never read from the file
  bool confidential = false;
  engine::Direction direction = engine::Direction::Encrypt;
  engine::KeySize keySize = engine::KeySize::Bits256;
  engine::CipherMode mode = engine::CipherMode::Ctr;
  bool prngSelected = false;
  uint8_t prngSize = 0;  // PrngSizeIndex offered next
  LockMask locks = 0;
};

constexpr size_t kSettingsFileLimit = 512;  // bytes read; a line cut there is hashed as cut

// Reads "config.ini" (or `path`) once: missing, unreadable or empty leaves the defaults.
void ReadSettingsFile(KeyToolSettings& settings, const char* path = "config.ini");

// The decision from the bytes read (at most kSettingsFileLimit of them).
void ApplySettingsText(const uint8_t* bytes, size_t count, KeyToolSettings& settings);

}  // namespace keytool

// How many IV and key bytes the settings want, and the texts the console and the key tool give
// about them. Both programs take their texts from here so that none is written twice.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "engine/aes.h"
#include "engine/job.h"
#include "keys/keytext.h"

namespace keys {

enum class KeyItem : uint8_t { Iv, Key };

// 12 for GCM (96-bit IV), 0 for ECB (no IV), 16 for every other mode.
size_t IvBytes(engine::CipherMode mode);
// IvBytes for the IV, engine::KeyBytes for the key.
size_t ItemBytes(KeyItem item, engine::CipherMode mode, engine::KeySize keySize);

// The console's IV and key argument errors: an empty argument, a file too short for the item,
// text that is not a valid hexadecimal form (length and character errors read the same).
enum class KeyArgumentError : uint8_t { Empty, TooFewBytes, BadText };

// "" where the settings give the item no bytes (the IV in ECB).
const char* ConsoleKeyArgumentText(KeyItem item, KeyArgumentError error, engine::CipherMode mode,
                                   engine::KeySize keySize);

// The key tool's operations on a field and their status titles ("Load IV", "Paste Key", ...).
enum class KeyToolOperation : uint8_t { Load, Save, Copy, Paste };
const char* KeyToolTitle(KeyToolOperation operation, KeyItem item);

enum class KeyToolMessage : uint8_t {
  Successful,
  NoClipboardText,      // the clipboard holds no text at all
  ClipboardUnreadable,  // its text could not be taken
  PasteBadCharacter,
  CopyFailed,
  ReadFailed,
  TooFewBytes,
  SaveFailed,
};
const char* KeyToolMessageText(KeyToolMessage message);

// The message that ends a paste into a field of `n` active bytes; a length error names the
// digit count the field wants.
const char* PasteResultText(HexResult result, size_t n);
const char* LoadResultText(KeyFileResult result);
const char* SaveResultText(KeyFileResult result);

}  // namespace keys

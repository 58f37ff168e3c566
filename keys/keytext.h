// Keys and IVs as hexadecimal text and as raw key files, with the messages both programs give.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace keys {

enum class HexResult : uint8_t { Ok, LengthError, CharacterError };

// `n` bytes from a text of exactly 2n characters (Plain) or 3n-1 (Separated: any character
// between digit pairs; those positions are never examined). The length decides the form and is
// tested first; nothing is trimmed. On any error no byte of `destination` changes.
HexResult ParseHexText(const char* text, size_t length, uint8_t* destination, size_t n);

// 2n characters, upper-case digits, high nibble first; no terminator is written.
void FormatHexText(const uint8_t* bytes, size_t n, char* text);

enum class KeyFileResult : uint8_t { Ok, OpenError, TooShort, WriteError };

// The first `n` bytes of an existing regular file (one read; fewer bytes, or a read error, is
// TooShort). On any error no byte of `destination` changes.
KeyFileResult LoadKeyFile(const char* path, uint8_t* destination, size_t n);

// Writes the `n` bytes to a new private (0600) file that then takes the name; whatever was there
// (a file, or a link, which is not followed) stays as it was when the save fails.
KeyFileResult SaveKeyFile(const char* path, const uint8_t* bytes, size_t n);

}  // namespace keys

// Key and IV texts and key files.
#include "keys/keytext.h"

#include <limits.h>
#include <string.h>

#include "engine/file.h"
#include "engine/wipe.h"

namespace keys {

namespace {

// The largest item is a 256-bit key. Working copies live on the stack at this size; a larger n
// is no item of these programs and is refused like a text or file that cannot supply it.
constexpr size_t kMaxItemBytes = 32;

constexpr uint8_t kNotADigit = 0xFF;

// Text is taken as unsigned bytes, so a byte above 127 is never mistaken for a small value.
uint8_t DigitValue(uint8_t c) {
  if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
  if (c >= 'a') c = static_cast<uint8_t>(c - ('a' - 'A'));
  if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
  return kNotADigit;
}

}  // namespace

HexResult ParseHexText(const char* text, size_t length, uint8_t* destination, size_t n) {
  if (n > kMaxItemBytes) return HexResult::LengthError;
  size_t stride;
  if (length == 2 * n) {
    stride = 2;
  } else if (n > 0 && length == 3 * n - 1) {
    stride = 3;
  } else {
    return HexResult::LengthError;
  }

  // Converted aside so that a bad digit late in the text leaves the destination as it was.
  const uint8_t* digits = reinterpret_cast<const uint8_t*>(text);
  uint8_t parsed[kMaxItemBytes];
  HexResult result = HexResult::Ok;
  for (size_t k = 0; k < n; ++k) {
    const uint8_t high = DigitValue(digits[k * stride]);
    const uint8_t low = DigitValue(digits[k * stride + 1]);
    if (high == kNotADigit || low == kNotADigit) {
      result = HexResult::CharacterError;
      break;
    }
    parsed[k] = static_cast<uint8_t>((high << 4) | low);
  }
  if (result == HexResult::Ok && n > 0) memcpy(destination, parsed, n);
  engine::WipeBytes(parsed, sizeof parsed);
  return result;
}

void FormatHexText(const uint8_t* bytes, size_t n, char* text) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (size_t k = 0; k < n; ++k) {
    text[2 * k] = kDigits[bytes[k] >> 4];
    text[2 * k + 1] = kDigits[bytes[k] & 0x0F];
  }
}

KeyFileResult LoadKeyFile(const char* path, uint8_t* destination, size_t n) {
  engine::FileHandle file = engine::OpenInputFile(path, false);
  if (file == engine::kNoFile) return KeyFileResult::OpenError;
  if (n > kMaxItemBytes) {
    engine::CloseFile(file);
    return KeyFileResult::TooShort;
  }

  // Read aside: a short file must not leave part of a key in the destination.
  uint8_t loaded[kMaxItemBytes];
  const int64_t got = engine::ReadFull(file, loaded, n);
  engine::CloseFile(file);
  KeyFileResult result = KeyFileResult::TooShort;
  if (got == static_cast<int64_t>(n)) {
    if (n > 0) memcpy(destination, loaded, n);
    result = KeyFileResult::Ok;
  }
  engine::WipeBytes(loaded, sizeof loaded);
  return result;
}

KeyFileResult SaveKeyFile(const char* path, const uint8_t* bytes, size_t n) {
  // Written aside and renamed into place: a key file that was there stays whole until the new
  // one is complete, and the result is private whatever the old file's mode was.
  // Never a folder, device or pipe (nor a link to one), nor another user's file.
  if (!engine::MayReplace(path)) return KeyFileResult::WriteError;
  char part[PATH_MAX + engine::kPartNameExtra];
  engine::FileHandle file = engine::CreatePartFile(path, part, sizeof part);
  if (file == engine::kNoFile) return KeyFileResult::WriteError;
  if (!engine::WriteAll(file, bytes, n)) {
    engine::CloseFile(file);
    engine::DeleteFile(part);
    return KeyFileResult::WriteError;
  }
  return engine::CommitReplacement(file, part, path) ? KeyFileResult::Ok
                                                     : KeyFileResult::WriteError;
}

}  // namespace keys

// ParseHexText on arbitrary texts and item sizes, against a model written from the text rules:
// the same verdict, the same bytes, nothing read past the text (an exact-size heap copy), and a
// refused text leaves every byte of the destination as it was.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <memory>

#include "keys/keytext.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using keys::HexResult;

int ModelDigit(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Length first (2n plain, 3n-1 separated, items of at most 32 bytes), then every digit pair.
HexResult Model(const uint8_t* text, size_t length, size_t n, uint8_t* bytes) {
  if (n > 32) return HexResult::LengthError;
  size_t stride;
  if (length == 2 * n) {
    stride = 2;
  } else if (n > 0 && length == 3 * n - 1) {
    stride = 3;
  } else {
    return HexResult::LengthError;
  }
  for (size_t k = 0; k < n; ++k) {
    const int high = ModelDigit(text[k * stride]), low = ModelDigit(text[k * stride + 1]);
    if (high < 0 || low < 0) return HexResult::CharacterError;
    bytes[k] = static_cast<uint8_t>(high * 16 + low);
  }
  return HexResult::Ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte is the item size (up to 40, past the largest item); the rest is the text.
  const size_t n = data[0] % 41;
  const size_t length = size - 1;
  std::unique_ptr<char[]> text(new char[length]);  // no terminator: a read past it is caught
  memcpy(text.get(), data + 1, length);

  uint8_t destination[48], before[48], model[48];
  for (size_t i = 0; i < sizeof destination; ++i)
    destination[i] = before[i] = static_cast<uint8_t>(0xA5 ^ i);
  const HexResult result = keys::ParseHexText(text.get(), length, destination, n);
  const HexResult expected = Model(data + 1, length, n, model);

  FUZZ_CHECK(result == expected);
  if (result == HexResult::Ok) {
    FUZZ_CHECK(memcmp(destination, model, n) == 0);
    FUZZ_CHECK(memcmp(destination + n, before + n, sizeof destination - n) == 0);
  } else {
    FUZZ_CHECK(memcmp(destination, before, sizeof destination) == 0);
  }
  return 0;
}

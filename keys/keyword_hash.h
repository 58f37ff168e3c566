// KeywordHash: the case-folding 32-bit hash by which the console recognises its keywords and the
// key tool the lines of its settings file. The token's text itself is never compared.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <array>
#include <string_view>

#include "engine/mode_table.h"

namespace keys {

// Bytes from 0x61 up are moved down by 0x20 (folding a-z onto A-Z, and "{" onto "[" alike); then
// h = rotr(h, 1); h += c; h *= c, modulo 2^32. "E" is 0x1299, "D" is 0x1210.
// `hash` continues the hash of text that went before.
constexpr uint32_t KeywordHash(const char* text, size_t length, uint32_t hash = 0) {
  for (size_t i = 0; i < length; ++i) {
    uint32_t c = static_cast<uint8_t>(text[i]);
    if (c >= 0x61) c -= 0x20;
    hash = (hash >> 1) | (hash << 31);
    hash += c;
    hash *= c;
  }
  return hash;
}

// The hash of a keyword's upper-case spelling, for tables built at compile time.
template <size_t N>
constexpr uint32_t KeywordHash(const char (&keyword)[N]) {
  return KeywordHash(keyword, N - 1);
}

static_assert(KeywordHash("E") == 0x1299 && KeywordHash("D") == 0x1210);

// One recognised keyword (or settings line) and what it selects.
template <typename Value>
struct Keyword {
  uint32_t hash;
  Value value;
};

// The value of the keyword whose hash equals `hash`: any text that hashes alike is taken as it.
// `table` is any sequence of Keyword<Value>.
template <typename Table, typename Value>
bool LookUpKeyword(uint32_t hash, const Table& table, Value& value) {
  for (const Keyword<Value>& keyword : table) {
    if (keyword.hash == hash) {
      value = keyword.value;
      return true;
    }
  }
  return false;
}

// The modes' keywords from the table of modes, each name behind `prefix` ("" on the command line,
// "MODE " in the key tool's settings file).
constexpr std::array<Keyword<engine::CipherMode>, engine::kModeCount> ModeKeywords(
    std::string_view prefix) {
  std::array<Keyword<engine::CipherMode>, engine::kModeCount> table{};
  const uint32_t start = KeywordHash(prefix.data(), prefix.size());
  for (size_t i = 0; i < table.size(); ++i) {
    const std::string_view name = engine::kModeTable[i].name;
    table[i] = {KeywordHash(name.data(), name.size(), start), engine::kModeTable[i].mode};
  }
  return table;
}

}  // namespace keys

// Reading "config.ini": lines recognised by their KeywordHash, decided group by group.
#include "keytool/settings.h"

#include <string.h>

#include "engine/file.h"
#include "keys/keyword_hash.h"

namespace keytool {

namespace {

using keys::Keyword;
using keys::KeywordHash;

constexpr Keyword<engine::Direction> kDirections[] = {
    {KeywordHash("ENCRYPT"), engine::Direction::Encrypt},
    {KeywordHash("DECRYPT"), engine::Direction::Decrypt},
};
constexpr Keyword<engine::KeySize> kKeySizes[] = {
    {KeywordHash("KEY SIZE 128"), engine::KeySize::Bits128},
    {KeywordHash("KEY SIZE 192"), engine::KeySize::Bits192},
    {KeywordHash("KEY SIZE 256"), engine::KeySize::Bits256},
};
constexpr auto kModes = keys::ModeKeywords("MODE ");
static_assert(kModes[1].hash == KeywordHash("MODE GCM"));
constexpr Keyword<uint8_t> kPrngSizes[] = {
    {KeywordHash("PRNG 64MB"), 0},  {KeywordHash("PRNG 128MB"), 1}, {KeywordHash("PRNG 256MB"), 2},
    {KeywordHash("PRNG 512MB"), 3}, {KeywordHash("PRNG 1GB"), 4},   {KeywordHash("PRNG 2GB"), 5},
    {KeywordHash("PRNG 4GB"), 6},   {KeywordHash("PRNG 8GB"), 7},   {KeywordHash("PRNG 16GB"), 8},
};
constexpr Keyword<LockMask> kIvLocks[] = {
    {KeywordHash("LOCK IV LOAD"), kLockIvLoad},   {KeywordHash("LOCK IV SAVE"), kLockIvSave},
    {KeywordHash("LOCK IV RAND"), kLockIvRand},   {KeywordHash("LOCK IV COPY"), kLockIvCopy},
    {KeywordHash("LOCK IV PASTE"), kLockIvPaste}, {KeywordHash("LOCK IV ZERO"), kLockIvZero},
};
constexpr Keyword<LockMask> kKeyLocks[] = {
    {KeywordHash("LOCK KEY LOAD"), kLockKeyLoad},   {KeywordHash("LOCK KEY SAVE"), kLockKeySave},
    {KeywordHash("LOCK KEY RAND"), kLockKeyRand},   {KeywordHash("LOCK KEY COPY"), kLockKeyCopy},
    {KeywordHash("LOCK KEY PASTE"), kLockKeyPaste}, {KeywordHash("LOCK KEY ZERO"), kLockKeyZero},
};

// The lines of the file by their hashes. 512 bytes hold at most 257 lines.
struct LineHashes {
  uint32_t hashes[kSettingsFileLimit / 2 + 1];
  size_t count = 0;

  bool Contains(uint32_t hash) const {
    for (size_t i = 0; i < count; ++i)
      if (hashes[i] == hash) return true;
    return false;
  }

  // The first line, in file order, that matches any value of the group decides it.
  template <typename Group, typename Value>
  bool Decide(const Group& group, Value& value) const {
    for (size_t i = 0; i < count; ++i)
      if (keys::LookUpKeyword(hashes[i], group, value)) return true;
    return false;
  }

  template <size_t N>
  LockMask Locks(const Keyword<LockMask> (&group)[N]) const {
    LockMask locks = 0;
    for (const Keyword<LockMask>& line : group)
      if (Contains(line.hash)) locks = static_cast<LockMask>(locks | line.value);
    return locks;
  }
};

// Every CR LF ends a line; a NUL ends the walk and drops the line it stands in. A lone CR or LF
// is part of its line, which then matches nothing.
void SplitLines(const uint8_t* bytes, size_t count, LineHashes& lines) {
  char text[kSettingsFileLimit + 2];
  memcpy(text, bytes, count);
  text[count] = '\r';  // an unterminated last line still counts
  text[count + 1] = '\n';
  size_t start = 0;
  for (size_t i = 0; i < count + 2; ++i) {
    if (text[i] == '\0') return;
    if (text[i] == '\r' && i + 1 < count + 2 && text[i + 1] == '\n') {
      lines.hashes[lines.count++] = KeywordHash(text + start, i - start);
      start = ++i + 1;
    }
  }
}

}  // namespace

void ApplySettingsText(const uint8_t* bytes, size_t count, KeyToolSettings& settings) {
  if (count > kSettingsFileLimit) count = kSettingsFileLimit;
  LineHashes lines;
  SplitLines(bytes, count, lines);

  if (lines.Contains(KeywordHash("HIDE"))) settings.confidential = true;
  lines.Decide(kDirections, settings.direction);
  lines.Decide(kKeySizes, settings.keySize);
  lines.Decide(kModes, settings.mode);
  if (lines.Decide(kPrngSizes, settings.prngSize)) settings.prngSelected = true;

  LockMask locks = settings.locks;
  if (lines.Contains(KeywordHash("LOCK KEY SIZE"))) locks |= kLockKeySize;
  if (lines.Contains(KeywordHash("LOCK MODE"))) locks |= kLockMode;
  // Freezing the input only makes sense when the file chose the pseudo-random function.
  if (settings.prngSelected && lines.Contains(KeywordHash("LOCK PRNG"))) locks |= kLockInput;
  if (lines.Contains(KeywordHash("LOCK ALL TOOLS"))) {
    settings.locks = static_cast<LockMask>(locks | kLockAllTools);
    return;
  }
  locks |= lines.Contains(KeywordHash("LOCK IV TOOLS")) ? kLockIvTools : lines.Locks(kIvLocks);
  locks |= lines.Contains(KeywordHash("LOCK KEY TOOLS")) ? kLockKeyTools : lines.Locks(kKeyLocks);
  settings.locks = locks;
}

void ReadSettingsFile(KeyToolSettings& settings, const char* path) {
  engine::FileHandle file = engine::OpenInputFile(path, false);
  if (file == engine::kNoFile) return;
  uint8_t bytes[kSettingsFileLimit];
  const int64_t got = engine::ReadFull(file, bytes, sizeof bytes);
  engine::CloseFile(file);
  if (got > 0) ApplySettingsText(bytes, static_cast<size_t>(got), settings);
}

}  // namespace keytool

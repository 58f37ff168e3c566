// The IV and key texts of the console and the key tool.
#include "keys/key_messages.h"

namespace keys {

namespace {

struct ItemTexts {
  const char* empty;
  const char* tooFewBytes;
};

// Indexed by KeyItem.
constexpr ItemTexts kConsoleItemTexts[] = {
    {"Error - No Initialization Vector", "Error - IV: There are too few bytes in the file"},
    {"Error - No Key", "Error - Key: There are too few bytes in the file"},
};

// The console names the item by its size in bits, so the row follows the byte count.
struct ConsoleLengthText {
  KeyItem item;
  uint8_t bytes;
  const char* text;
};

constexpr ConsoleLengthText kConsoleLengthTexts[] = {
    {KeyItem::Iv, 12, "Error - 96 bit IV can only be 24 or 35 [0-9 A-F] characters"},
    {KeyItem::Iv, 16, "Error - 128 bit IV can only be 32 or 47 [0-9 A-F] characters"},
    {KeyItem::Key, 16, "Error - 128 bit key can only be 32 or 47 [0-9 A-F] characters"},
    {KeyItem::Key, 24, "Error - 192 bit key can only be 48 or 71 [0-9 A-F] characters"},
    {KeyItem::Key, 32, "Error - 256 bit key can only be 64 or 95 [0-9 A-F] characters"},
};

// The key tool names the digit count instead, so a 16-byte IV and a 128-bit key share a row.
struct PasteLengthText {
  uint8_t digits;
  const char* text;
};

constexpr PasteLengthText kPasteLengthTexts[] = {
    {24, "Error - Only 24 or 35 [0-9 A-F] characters can be pasted"},
    {32, "Error - Only 32 or 47 [0-9 A-F] characters can be pasted"},
    {48, "Error - Only 48 or 71 [0-9 A-F] characters can be pasted"},
    {64, "Error - Only 64 or 95 [0-9 A-F] characters can be pasted"},
};

// Indexed by KeyItem, then KeyToolOperation.
constexpr const char* kTitles[][4] = {
    {"Load IV", "Save IV", "Copy IV", "Paste IV"},
    {"Load Key", "Save Key", "Copy Key", "Paste Key"},
};

// Indexed by KeyToolMessage.
constexpr const char* kKeyToolTexts[] = {
    "Successful",
    "Error - There is no ASCII text on the clipboard",
    "Error",
    "Error - Only ASCII 0-9 A-F can be pasted",
    "Error - Could not copy to the clipboard",
    "Error - Could not read from the file",
    "Error - There are too few bytes in the file",
    "Error - Could not save the file",
};
static_assert(sizeof kKeyToolTexts / sizeof kKeyToolTexts[0] ==
              static_cast<size_t>(KeyToolMessage::SaveFailed) + 1);

size_t Index(KeyItem item) {
  return static_cast<size_t>(item);
}

}  // namespace

size_t IvBytes(engine::CipherMode mode) {
  return engine::Traits(mode).ivBytes;
}

size_t ItemBytes(KeyItem item, engine::CipherMode mode, engine::KeySize keySize) {
  return item == KeyItem::Iv ? IvBytes(mode) : engine::KeyBytes(keySize);
}

const char* ConsoleKeyArgumentText(KeyItem item, KeyArgumentError error, engine::CipherMode mode,
                                   engine::KeySize keySize) {
  const size_t bytes = ItemBytes(item, mode, keySize);
  if (bytes == 0 || Index(item) >= 2) return "";
  if (error == KeyArgumentError::Empty) return kConsoleItemTexts[Index(item)].empty;
  if (error == KeyArgumentError::TooFewBytes) return kConsoleItemTexts[Index(item)].tooFewBytes;
  for (const ConsoleLengthText& row : kConsoleLengthTexts)
    if (row.item == item && row.bytes == bytes) return row.text;
  return "";
}

const char* KeyToolTitle(KeyToolOperation operation, KeyItem item) {
  const size_t column = static_cast<size_t>(operation);
  return Index(item) < 2 && column < 4 ? kTitles[Index(item)][column] : "";
}

const char* KeyToolMessageText(KeyToolMessage message) {
  const size_t row = static_cast<size_t>(message);
  return row < sizeof kKeyToolTexts / sizeof kKeyToolTexts[0] ? kKeyToolTexts[row] : "";
}

const char* PasteResultText(HexResult result, size_t n) {
  if (result == HexResult::Ok) return KeyToolMessageText(KeyToolMessage::Successful);
  if (result == HexResult::CharacterError)
    return KeyToolMessageText(KeyToolMessage::PasteBadCharacter);
  for (const PasteLengthText& row : kPasteLengthTexts)
    if (row.digits == 2 * n) return row.text;
  return "";
}

const char* LoadResultText(KeyFileResult result) {
  switch (result) {
    case KeyFileResult::Ok:
      return KeyToolMessageText(KeyToolMessage::Successful);
    case KeyFileResult::OpenError:
      return KeyToolMessageText(KeyToolMessage::ReadFailed);
    case KeyFileResult::TooShort:
      return KeyToolMessageText(KeyToolMessage::TooFewBytes);
    case KeyFileResult::WriteError:
      break;
  }
  return "";
}

const char* SaveResultText(KeyFileResult result) {
  return KeyToolMessageText(result == KeyFileResult::Ok ? KeyToolMessage::Successful
                                                        : KeyToolMessage::SaveFailed);
}

}  // namespace keys

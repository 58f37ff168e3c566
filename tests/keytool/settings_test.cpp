// "config.ini": file contents against the settings they must give.
#include "keytool/settings.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace engine;
using namespace keytool;

KeyToolSettings Read(const std::string& text) {
  KeyToolSettings settings;
  ApplySettingsText(reinterpret_cast<const uint8_t*>(text.data()), text.size(), settings);
  return settings;
}

// Direction, key size, mode, confidential, PRNG size (- when none was chosen), locks.
std::string Summary(const KeyToolSettings& s) {
  return std::to_string(static_cast<int>(s.direction)) +
         std::to_string(static_cast<int>(s.keySize)) + std::to_string(static_cast<int>(s.mode)) +
         (s.confidential ? "H" : "-") + (s.prngSelected ? std::to_string(s.prngSize) : "-") + " " +
         std::to_string(s.locks);
}

TEST(Settings, WholeLinesInAnyCaseTheFirstOfAGroupWinsLocksAndOnly512BytesCount) {
  const struct {
    std::string text;
    KeyToolSettings expected;
  } cases[] = {
      {"Decrypt\r\nEncrypt\r\n", {.direction = Direction::Decrypt}},
      {"decrypt", {.direction = Direction::Decrypt}},  // no CR LF at the end
      {"mode gcm\r\nMode ECB\r\nKey Size 128\r\nKey Size 192\r\n",
       {.keySize = KeySize::Bits128, .mode = CipherMode::Gcm}},
      // Nothing may stand before or after the text on its line, nor a lone CR or LF within it.
      {"Decrypt \r\nMode  GCM\r\nGCM\r\n Key Size 128\r\n", {}},
      {"Decrypt\nMode GCM\nHide\n", {}},
      {"Hide\rDecrypt\r\n", {}},
      {std::string("\0Decrypt\r\nHide\r\n", 17), {}},
      {std::string(505, 'x') + "\r\nDecrypt\r\n", {}},  // cut to "Decry" at 512 bytes
      {std::string(495, 'x') + "\r\nHide\r\nDecrypt\r\n",
       {.confidential = true, .direction = Direction::Decrypt}},
      // Locks; "Lock PRNG" locks nothing without a size to run.
      {"Lock PRNG\r\nLock Key Size\r\nLock Mode\r\n", {.locks = kLockKeySize | kLockMode}},
      {"Lock PRNG\r\nPRNG 1GB\r\nPRNG 64MB\r\n",
       {.prngSelected = true, .prngSize = 4, .locks = kLockInput}},
      {"Lock IV Tools\r\nLock Key Copy\r\nLock IV Save\r\n",
       {.locks = kLockIvTools | kLockKeyCopy}},
      // "Lock All Tools" ends the reading of the button locks, wherever it stands; the choices
      // are honoured on either side of it.
      {"Lock IV Zero\r\nLock All Tools\r\nLock Mode\r\nPRNG 16GB\r\n",
       {.prngSelected = true, .prngSize = 8, .locks = kLockAllTools | kLockMode}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Summary(Read(c.text)), Summary(c.expected)) << c.text;
}

}  // namespace

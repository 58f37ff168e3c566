// JobStatus: the one-byte outcome of a job (the console's exit code) and each program's texts.
#pragma once

#include <stdint.h>

namespace engine {

enum class JobStatus : uint8_t {
  EncryptionComplete = 0,
  DecryptionComplete = 1,
  PrngComplete = 2,
  WrongTag = 3,
  // 4 to 14 (and 24): the console's argument errors.
  NoFunction = 4,
  NoCommand = 5,
  NoKeySize = 6,
  NoMode = 7,
  BadIv = 8,
  BadKey = 9,
  NoInput = 10,
  NoOutput = 11,
  SameFile = 12,  // also: an existing output that is the input, an IV or a key under another name
  BadPassphrase = 13,
  NoPrngSize = 14,
  // 15 to 23: files and sizes.
  InputUnreadable = 15,
  InputEmpty = 16,
  NotMultipleOf16 = 17,
  TooSmallForTag = 18,
  TooSmallForHeader = 19,
  NotV1Header = 20,
  OutputUnwritable = 21,
  NoSpace = 22,
  TooLargeForGcm = 23,  // GCM or sealed encryption past 2^32 - 2 blocks: the counter would wrap
  UnsafeName = 24,      // the console's: an argument holds a tab or a double quote
  HelpShown = 99,
};

// Which function a job ran, where it changes the texts of codes 1 and 3.
enum class StatusContext : uint8_t { Plain, Gcm, Sealed };

// The console's final line for a job outcome (codes 0 to 3 and 12, 15 to 23).
const char* ConsoleStatusText(JobStatus status, StatusContext context);
// The key tool's text for a failure before or during a job (12, 15 to 18, 21 to 23).
const char* KeyToolStatusText(JobStatus status);
// The passphrase tool's text for a failure before or during a job (12, 15, 16, 19 to 23).
const char* PassphraseToolStatusText(JobStatus status);

}  // namespace engine

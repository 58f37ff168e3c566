// The passphrase asked for on the terminal, twice when encrypting.
#include "console/prompt.h"

#include <string.h>

#include "console/fault_line.h"
#include "console/terminal.h"
#include "engine/status.h"
#include "engine/wipe.h"
#include "keys/sealed.h"

namespace console {

namespace {

// The second entry; wiped as soon as it is compared.
uint8_t gRepeated[engine::kMaxPassphrase];

bool SameEntry(const uint8_t* a, size_t aLength, const uint8_t* b, size_t bLength) {
  if (aLength != bLength) return false;
  uint8_t difference = 0;
  for (size_t i = 0; i < aLength; ++i)
    difference |= static_cast<uint8_t>(a[i] ^ b[i]);
  return difference == 0;
}

// A refusal as the job would have made it, final line and standard-error line alike.
ParseResult EarlyRefusal(const engine::CipherJob& job) {
  ParseResult refused{false, job.status,
                      engine::ConsoleStatusText(job.status, engine::StatusContext::Sealed),
                      ConsoleFunction::Praxel};
  refused.faultReason = JobFaultReason(job);
  refused.faultPath = JobFaultPath(job);
  return refused;
}

}  // namespace

ParseResult AskForPassphrase(const CommandLine& line, const ParseResult& parsed,
                             engine::CipherJob& job) {
  if (parsed.ok || parsed.function != ConsoleFunction::Praxel ||
      parsed.status != engine::JobStatus::BadPassphrase || line.spanFirst != kNoPosition ||
      !StandardInputIsTerminal())
    return parsed;

  // The files are looked at before anything is typed: a mistyped name, a file of the wrong kind,
  // the output named as the input or an existing output without Overwrite shows at once. The job
  // opens the input again when it runs.
  keys::SetUpSealedJob(job);
  if (!engine::OpenJobInput(job)) return EarlyRefusal(job);
  engine::CloseFile(job.input);
  if (!engine::CheckOutputName(job)) return EarlyRefusal(job);

  const size_t capacity = sizeof job.passphrase;
  size_t length = 0, repeatedLength = 0;
  bool read;
  {
    NoEchoGuard quiet;
    read = ReadSecretLine("Passphrase: ", job.passphrase, capacity, length);
    if (read && length != 0 && length <= capacity && job.direction == engine::Direction::Encrypt)
      read = ReadSecretLine("Passphrase again: ", gRepeated, capacity, repeatedLength);
  }
  const bool mismatch = read && length != 0 && length <= capacity &&
                        job.direction == engine::Direction::Encrypt &&
                        !SameEntry(job.passphrase, length, gRepeated, repeatedLength);
  engine::WipeBytes(gRepeated, sizeof gRepeated);
  if (!read || mismatch) {
    engine::WipeBytes(job.passphrase, sizeof job.passphrase);
    length = 0;
  }
  if (mismatch) ReportFault(nullptr, "the passphrases do not match");
  job.passphraseLength = static_cast<uint32_t>(length);
  if (length > capacity) engine::WipeBytes(job.passphrase, sizeof job.passphrase);
  return CheckPassphrase(job);
}

}  // namespace console

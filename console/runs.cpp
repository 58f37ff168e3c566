// The console's runs, their final lines, and the progress line.
#include "console/runs.h"

#include <string.h>

#include "console/terminal.h"
#include "engine/modes.h"
#include "engine/status.h"
#include "keys/random.h"
#include "keys/sealed.h"

namespace console {

namespace {

// Progress goes to a terminal only: in a redirected output the final line stands alone.
void WatchProgress(engine::CipherJob& job) {
  job.host = engine::JobHost::Console;
  job.onProgress = StandardOutputIsTerminal() ? ShowProgress : nullptr;
}

}  // namespace

void PrintLine(const char* text) {
  WriteOutput(text, strnlen(text, 4096));
  WriteOutput("\r\n", 2);
}

void ShowProgress(const engine::CipherJob& job, void*) {
  char line[] = "Working - 000%\r";
  engine::FormatPercent(job.percent.load(std::memory_order_relaxed), line + 10);
  WriteOutput(line, sizeof line - 1);
}

const char* RunKeyIv(engine::CipherJob& job) {
  WatchProgress(job);
  if (engine::PrepareJobFiles(job)) {
    if (job.kind == engine::JobKind::Prng) {
      keys::PrngFileRun(job);
    } else {
      engine::RunCipherJob(job);
    }
  }
  engine::CloseJobFiles(job);  // a failing close is the job's outcome too
  return engine::ConsoleStatusText(job.status, job.mode == engine::CipherMode::Gcm
                                                   ? engine::StatusContext::Gcm
                                                   : engine::StatusContext::Plain);
}

const char* RunPassphrase(engine::CipherJob& job) {
  keys::SetUpSealedJob(job);
  WatchProgress(job);
  if (engine::PrepareJobFiles(job)) {
    if (job.direction == engine::Direction::Encrypt) {
      keys::EncryptV1File(job);
    } else {
      keys::DecryptV1File(job);
    }
  }
  engine::CloseJobFiles(job);
  return engine::ConsoleStatusText(job.status, engine::StatusContext::Sealed);
}

}  // namespace console

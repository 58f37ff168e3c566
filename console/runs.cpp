// The console's runs, their final lines, and the progress line.
#include "console/runs.h"

#include <string.h>
#include <unistd.h>

#include "engine/modes.h"
#include "engine/status.h"
#include "keys/random.h"
#include "keys/sealed.h"

namespace console {

namespace {

constexpr int kStandardOutput = 1;

void WriteOut(const char* bytes, size_t count) {
  while (count > 0) {
    const ssize_t written = write(kStandardOutput, bytes, count);
    if (written <= 0) return;  // nothing else can report it
    bytes += written;
    count -= static_cast<size_t>(written);
  }
}

// Progress goes to a terminal only: in a redirected output the final line stands alone.
void WatchProgress(engine::CipherJob& job) {
  job.host = engine::JobHost::Console;
  job.onProgress = isatty(kStandardOutput) ? ShowProgress : nullptr;
}

}  // namespace

void PrintLine(const char* text) {
  WriteOut(text, strnlen(text, 4096));
  WriteOut("\r\n", 2);
}

void ShowProgress(const engine::CipherJob& job, void*) {
  char line[] = "Working - 000%\r";
  engine::FormatPercent(job.percent.load(std::memory_order_relaxed), line + 10);
  WriteOut(line, sizeof line - 1);
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

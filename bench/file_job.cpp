// Runs one real key/IV file job, file to file, and reports its status, time and rate, with the
// time split into preparing the files, the run, and closing them.
//
//   file_job <ctr|gcm|ofb|cfb|cbc|ecb|pcbc> <e|d> <128|192|256> <keyhex> <ivhex> <input> <output>
//            [--software]
//
// The output is replaced if it exists. The exit code is the job's status (0 encrypted,
// 1 decrypted, 3 wrong GCM tag, 15 and up for file errors); 64 for a bad command line.
#include <stdio.h>
#include <string.h>

#include <chrono>

#include "engine/aes.h"
#include "engine/backend.h"
#include "engine/job.h"
#include "engine/modes.h"
#include "engine/status.h"
#include "engine/wipe.h"

namespace {

constexpr int kUsageExit = 64;

const char kUsage[] =
    "usage: file_job <ctr|gcm|ofb|cfb|cbc|ecb|pcbc> <e|d> <128|192|256> <keyhex> <ivhex> "
    "<input> <output> [--software]\n"
    "  keyhex: 32, 48 or 64 hex digits as the key size wants; ivhex: 32 hex digits (gcm: 24 or "
    "32, the first 12 bytes are used)\n";

int Usage(const char* problem) {
  if (problem != nullptr) fprintf(stderr, "file_job: %s\n", problem);
  fputs(kUsage, stderr);
  return kUsageExit;
}

bool ParseMode(const char* text, engine::CipherMode& mode) {
  static const char* const kNames[] = {"ctr", "gcm", "ofb", "cfb", "cbc", "ecb", "pcbc"};
  for (int i = 0; i < 7; ++i) {
    if (strcmp(text, kNames[i]) == 0) {
      mode = static_cast<engine::CipherMode>(i);
      return true;
    }
  }
  return false;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Exactly `count` bytes from 2 x `count` hex digits.
bool ParseHex(const char* text, uint8_t* bytes, size_t count) {
  if (strlen(text) != 2 * count) return false;
  for (size_t i = 0; i < count; ++i) {
    int high = HexDigit(text[2 * i]);
    int low = HexDigit(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    bytes[i] = static_cast<uint8_t>(high * 16 + low);
  }
  return true;
}

bool CopyPath(const char* path, char (&target)[engine::kPathCapacity]) {
  size_t length = strlen(path);
  if (length == 0 || length >= engine::kPathCapacity) return false;
  memcpy(target, path, length + 1);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 8 && argc != 9) return Usage(nullptr);
  bool software = false;
  if (argc == 9) {
    if (strcmp(argv[8], "--software") != 0) return Usage("the only option is --software");
    software = true;
  }

  static engine::CipherJob job;  // one per process, as in the programs
  job.host = engine::JobHost::Console;
  job.kind = engine::JobKind::KeyIv;
  job.disposition = engine::Disposition::CreateAlways;
  if (!ParseMode(argv[1], job.mode)) return Usage("unknown mode");
  if (strcmp(argv[2], "e") == 0) {
    job.direction = engine::Direction::Encrypt;
  } else if (strcmp(argv[2], "d") == 0) {
    job.direction = engine::Direction::Decrypt;
  } else {
    return Usage("direction must be e or d");
  }
  if (strcmp(argv[3], "128") == 0) {
    job.keySize = engine::KeySize::Bits128;
  } else if (strcmp(argv[3], "192") == 0) {
    job.keySize = engine::KeySize::Bits192;
  } else if (strcmp(argv[3], "256") == 0) {
    job.keySize = engine::KeySize::Bits256;
  } else {
    return Usage("key size must be 128, 192 or 256");
  }
  if (!ParseHex(argv[4], job.key, engine::KeyBytes(job.keySize))) {
    engine::WipeBytes(job.key, sizeof job.key);
    return Usage("the key must be 2 hex digits per key byte");
  }
  const bool shortGcmIv = job.mode == engine::CipherMode::Gcm && strlen(argv[5]) == 24;
  if (!ParseHex(argv[5], job.iv, shortGcmIv ? 12 : 16)) {
    engine::WipeBytes(job.key, sizeof job.key);
    return Usage("the IV must be 32 hex digits (gcm: 24 or 32)");
  }
  if (!CopyPath(argv[6], job.inputPath) || !CopyPath(argv[7], job.outputPath)) {
    engine::WipeBytes(job.key, sizeof job.key);
    return Usage("paths must be 1 to 259 characters");
  }

  const engine::CpuFeatures features = engine::ReadCpuFeatures();
  if (!engine::PassesProcessorCheck(features)) {
    puts(engine::kProcessorRefusal);
    return 0;
  }
  engine::BuildAesTables();
  if (software) {
    engine::ForceAesBackend(false);
  } else {
    engine::SelectAesBackend(features);
  }

  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  uint64_t inputBytes = 0;
  Clock::time_point prepared = start;
  if (engine::PrepareJobFiles(job)) {
    inputBytes = job.totalSize;
    prepared = Clock::now();
    engine::RunCipherJob(job);
  }
  const Clock::time_point ran = Clock::now();
  engine::CloseJobFiles(job);
  const Clock::time_point end = Clock::now();
  engine::WipeJobSecrets(job);

  auto secondsBetween = [](Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
  };
  const double seconds = secondsBetween(start, end);
  const double megabytesPerSecond =
      seconds > 0 ? static_cast<double>(inputBytes) / seconds / 1e6 : 0.0;
  const engine::StatusContext context = job.mode == engine::CipherMode::Gcm
                                            ? engine::StatusContext::Gcm
                                            : engine::StatusContext::Plain;
  printf("status %d: %s\n", static_cast<int>(job.status),
         engine::ConsoleStatusText(job.status, context));
  printf("backend %s, %llu input bytes, %.3f s, %.1f MB/s\n",
         engine::HardwareBackendActive() ? "hardware" : "software",
         static_cast<unsigned long long>(inputBytes), seconds, megabytesPerSecond);
  printf("prepare %.3f s, run %.3f s, close %.3f s\n", secondsBetween(start, prepared),
         secondsBetween(prepared, ran), secondsBetween(ran, end));
  return static_cast<int>(job.status);
}
